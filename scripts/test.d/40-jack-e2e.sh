#!/usr/bin/env bash
# End to end on a real MIDI path: a JACK server with its dummy audio driver, tarrowin-cli
# playing to JACK ports, and jack_midi_dump, a client we did not write, receiving. What it
# receives must be the notes of the exported MIDI file, in order and on time, also while a
# storm of OSC messages arrives; Ctrl-C must end a play with All Notes Off on every channel.
set -euo pipefail
cd "$(dirname "$0")/../.."
cli=$PWD/build/bin/tarrowin-cli
python=/usr/bin/python3  # Debian's, with python3-mido
work=$(mktemp -d -t tarrowin-jack-e2e.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A server of our own name, so that a JACK server someone else runs is left alone. With
# real-time scheduling where the system grants it, as JACK runs on a musician's machine
# (TARROWIN_JACK_REALTIME=0 runs without it, as where it is not granted).
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
realtime=(-r)
monitor_priority=(nice -n -10)
if [ "${TARROWIN_JACK_REALTIME:-1}" != 0 ] && chrt -f 10 true 2>/dev/null; then
  realtime=(-R)
  monitor_priority=(chrt -f 5)
fi
start_server() {  # NAME OPTIONS...: a dummy-driver server; the clients below use it
  export JACK_DEFAULT_SERVER="tarrowin-e2e-$1-$$"
  shift
  jackd -n "$JACK_DEFAULT_SERVER" "$@" -d dummy -r 48000 -p 256 >"$work/$JACK_DEFAULT_SERVER.log" 2>&1 &
  server_pid=$!
  pids+=($server_pid)
  jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$work/$JACK_DEFAULT_SERVER.log"; echo "jackd did not start"; exit 1; }
}
start_server main "${realtime[@]}"

fail() { echo "FAIL: $*"; exit 1; }

wait_for_port() {  # PORT: wait until JACK lists it
  for _ in $(seq 1 100); do
    jack_lsp 2>/dev/null | grep -qx "$1" && return 0
    sleep 0.05
  done
  fail "JACK port $1 did not appear"
}

start_dump() {  # NAME: a jack_midi_dump client writing NAME.txt
  # It passes what its port receives to a thread that prints it, through a queue of about
  # a hundred messages: real-time scheduling (else a higher priority, where granted) keeps
  # that thread up with the load stage's stream, so that the dump itself loses nothing.
  "${monitor_priority[@]}" jack_midi_dump -a "$1" >"$work/$1.txt" 2>"$work/$1.err" &
  pids+=($!)
  dump_pid=$!
  wait_for_port "$1:input"
}

stop_dump() {
  kill "$dump_pid"
  wait "$dump_pid" 2>/dev/null || true
}

# A short document: four voices, tempo 240 (31 ms ticks), Start 0, End 48, one of them a
# percussion voice, one "All Notes", one with another note value and instrument.
"$cli" new "$work/new.trw"
"$cli" dump "$work/new.trw" >"$work/new.json"
"$python" - "$work/new.json" "$work/short.json" "$work/long.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
cur = doc["current"]
cur.update(tempo=240, startCounter=0, endCounter=48)
v = cur["voices"]
v[0]["tied"] = 0
v[1].update(enabled=1, algorithm=3, noteValueIndex=3, noteValue=4.0, instrument=40, pan=-30)
v[2].update(enabled=1, algorithm=1, noteValueIndex=1, noteValue=16.0, tied=0)
v[9].update(enabled=1, percussionKey=3)
json.dump(doc, open(sys.argv[2], "w"))
cur.update(endCounter=5000)
json.dump(doc, open(sys.argv[3], "w"))
PY
"$cli" load "$work/short.json" "$work/short.trw"
"$cli" load "$work/long.json" "$work/long.trw"
"$cli" export "$work/short.trw" "$work/short.mid" --mode current >/dev/null

# The notes of the file: "channel key velocity tick" per struck note.
"$python" - "$work/short.mid" >"$work/expected.txt" <<'PY'
import mido, sys
tick = 0
for msg in mido.MidiFile(sys.argv[1]).tracks[0]:
    tick += msg.time
    if msg.type == "note_on" and msg.velocity > 0:
        print(msg.channel, msg.note, msg.velocity, tick)
PY
[ -s "$work/expected.txt" ] || fail "the export holds no notes"

# What a dump received, as the file's lines, with the ticks taken from the arrival times
# (31 ms per tick, 48000 frames per second); they must lie within 60 ms of the file's.
check_dump() {  # DUMP
  "$python" - "$work/expected.txt" "$1" <<'PY'
import sys
expected = [l.split() for l in open(sys.argv[1])]
got = []
for line in open(sys.argv[2]):
    stamp, _, rest = line.partition(":")
    data = rest.split()
    if len(data) >= 3 and data[0][0] == "9" and int(data[2], 16) > 0:
        got.append((int(data[0][1], 16), int(data[1], 16), int(data[2], 16), int(stamp)))
notes = lambda rows: [tuple(int(x) for x in r[:3]) for r in rows]
if notes(expected) != [g[:3] for g in got]:
    sys.exit("received notes differ from the file:\n expected %s\n got      %s" % (notes(expected)[:12], [g[:3] for g in got][:12]))
t0, f0 = int(expected[0][3]), got[0][3]
for e, g in zip(expected, got):
    want = (int(e[3]) - t0) * 31.0
    have = (g[3] - f0) / 48.0
    if abs(have - want) > 60:
        sys.exit("note %s came at %.1f ms, its tick is at %.1f ms" % (e[:3], have, want))
print("  %d notes in order and on time" % len(got))
PY
}

echo "play to a JACK port by name"
start_dump dumpA
"$cli" devices | grep -q "JACK: dumpA:input" || fail "devices does not list dumpA:input"
"$cli" play "$work/short.trw" --lock --device "JACK: dumpA:input" 2>"$work/playA.log" || { cat "$work/playA.log"; fail "play failed"; }
stop_dump
check_dump "$work/dumpA.txt"

echo "a tuned play sends the MIDI Tuning Standard's SysEx before its first note, as the file holds it"
"$cli" tuning "$work/short.trw" "$work/tuned.trw" --scl tests/tunings/19edo.scl >/dev/null
"$cli" export "$work/tuned.trw" "$work/tuned.mid" --mode current >/dev/null
start_dump dumpT
"$cli" play "$work/tuned.trw" --lock --device "JACK: dumpT:input" 2>"$work/playT.log" || { cat "$work/playT.log"; fail "tuned play failed"; }
stop_dump
"$python" - "$work/tuned.mid" "$work/dumpT.txt" <<'PY'
import mido, sys
sysex = [[0xF0, *m.data, 0xF7] for m in mido.MidiFile(sys.argv[1]).tracks[0] if m.type == "sysex"]
got = []
for line in open(sys.argv[2]):
    data = []
    for word in line.partition(":")[2].split():
        if len(word) != 2:
            break
        data.append(int(word, 16))
    if data:
        got.append(data)
if len(sysex) != 8 or got[:8] != sysex:
    sys.exit("the SysEx received differ from the file's:\n file %s\n got  %s" % (sysex[:1], got[:1]))
if any(d[0] & 0xF0 == 0x90 for d in got[:8]):
    sys.exit("a note came before the tuning")
print("  the 8 SysEx of 128 keys first, as the file holds them")
PY

echo "play to the virtual port Tarrowin, connected with jack_connect"
start_dump dumpB
"$cli" play "$work/short.trw" --lock --device "JACK: Tarrowin (virtual port)" --delay 2 2>"$work/playB.log" &
play_pid=$!
pids+=($play_pid)
wait_for_port "Tarrowin:Tarrowin"
jack_connect Tarrowin:Tarrowin dumpB:input
wait "$play_pid" || { cat "$work/playB.log"; fail "play to the virtual port failed"; }
stop_dump
check_dump "$work/dumpB.txt"

echo "Ctrl-C ends a play with All Notes Off on the 16 channels"
start_dump dumpC
"$cli" play "$work/long.trw" --device "JACK: dumpC:input" 2>"$work/playC.log" &
play_pid=$!
pids+=($play_pid)
sleep 1
kill -INT "$play_pid"
wait "$play_pid" || { cat "$work/playC.log"; fail "play did not end cleanly on Ctrl-C"; }
stop_dump
grep -q "^Stopped" "$work/playC.log" || fail "play did not report the stop"
tail -n 16 "$work/dumpC.txt" | awk '{print $2, $3, $4}' >"$work/tail.txt"
for ch in 0 1 2 3 4 5 6 7 8 9 a b c d e f; do echo "b$ch 7b 00"; done >"$work/alloff.txt"
diff "$work/alloff.txt" "$work/tail.txt" >/dev/null || fail "the last messages are not All Notes Off on the 16 channels"
notes=$(grep -c ': 9' "$work/dumpC.txt" || true)
[ "$notes" -gt 10 ] || fail "only $notes notes arrived before Ctrl-C"
echo "  $notes note messages, then All Notes Off on the 16 channels"

echo "a storm of 10000 OSC messages at a play leaves its notes on time; /tarrowin/stop stops a play"
start_dump dumpD
osc_port=$("$python" -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$cli" play "$work/short.trw" --lock --device "JACK: dumpD:input" --osc "$osc_port" 2>"$work/playD.log" &
play_pid=$!
pids+=($play_pid)
for _ in $(seq 1 100); do [ -s "$work/dumpD.txt" ] && break; sleep 0.02; done  # the first notes
"$python" tests/remote/osc_storm.py "$osc_port" 10000 mixed >"$work/storm.log" || { cat "$work/storm.log"; fail "the play did not answer after the storm"; }
wait "$play_pid" || { cat "$work/playD.log"; fail "the play under the storm failed"; }
stop_dump
sed 's/^/  /' "$work/storm.log"
grep -q " [1-9][0-9]* states" "$work/storm.log" || fail "the play answered no state query"
check_dump "$work/dumpD.txt"
"$cli" play "$work/long.trw" --device "JACK: Tarrowin (virtual port)" --osc "$osc_port" 2>"$work/playE.log" &
play_pid=$!
pids+=($play_pid)
for _ in $(seq 1 100); do grep -qs "^Playing" "$work/playE.log" && break; sleep 0.05; done
oscsend localhost "$osc_port" /tarrowin/stop
wait "$play_pid" || { cat "$work/playE.log"; fail "a play stopped by /tarrowin/stop failed"; }
grep -q "^Stopped" "$work/playE.log" || fail "/tarrowin/stop did not stop the play"

# Under load: the machine kept busy as a musician's laptop is while a DAW and a synthesizer
# run. However late the JACK cycles come, every play must end with its final messages on
# the port: All Notes Off on the 16 channels after a play (to its end, of a composition or
# stopped by Ctrl-C), the whole note-off sweep after an audition; through a port we connect
# to and through the virtual port.
echo "under load: the final messages of every play reach the port"
load_start=$SECONDS
auditions=$PWD/build/bin/audition_driver
virtual="JACK: Tarrowin (virtual port)"
plays=${LOAD_PLAYS:-10}
# The short document cut to 24 ticks (0.75 s), with its settings also as event 0.
"$python" - "$work/short.json" "$work/quick.json" <<'PY2'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["current"]["endCounter"] = 24
json.dump(doc, open(sys.argv[2], "w"))
PY2
"$cli" load "$work/quick.json" "$work/quick.trw"
"$cli" event add "$work/quick.trw" "$work/quick.trw" >/dev/null

# The rest runs on a server in synchronous mode, each cycle waiting for every client: a
# client that the busy processes hold up then delays the cycle, where an asynchronous
# server would let the cycle go without it and its MIDI would be lost, to every client
# alike. What is checked is what the program hands to JACK, not JACK's own losses.
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
start_server load -S "${realtime[@]}"

# Two busy loops, one per core; bounded by timeout in case this script dies, and killed by
# their PIDs when the stage ends.
busy=()
for _ in 1 2; do
  timeout 300 bash -c 'while :; do :; done' &
  busy+=($!)
  pids+=($!)
done

# The backend's own tests, a client of theirs receiving: close returns only once everything
# sent has arrived, also beyond what one cycle carries.
load_failed=0
TARROWIN_JACK_TESTS=1 "$PWD/build/bin/device_tests" --gtest_filter='JackBackendOnAServer.*' --gtest_repeat=3 \
  --gtest_brief=1 >"$work/device_tests.log" 2>&1 || true
runs=$(grep -c '^\[  PASSED  \] 2 tests' "$work/device_tests.log" || true)
echo "  the JACK backend's tests passed $runs of 3 times (at $((SECONDS - load_start)) s)"
[ "$runs" = 3 ] || { cat "$work/device_tests.log"; load_failed=1; }

dump_size() { stat -c %s "$work/$1.txt"; }

settle_dump() {  # NAME: wait until the dump has printed what it received
  local size=-1
  while [ "$(dump_size "$1")" != "$size" ]; do
    size=$(dump_size "$1")
    sleep 0.3
  done
}

wait_for_port_gone() {  # PORT
  for _ in $(seq 1 100); do
    jack_lsp 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.05
  done
  fail "JACK port $1 did not go away"
}

connect_virtual() {  # DUMP: once the virtual port is there
  wait_for_port Tarrowin:Tarrowin
  jack_connect Tarrowin:Tarrowin "$1:input"
}

load_play() {  # DUMP DEVICE I: play number I, to its end (lock), the composition, or Ctrl-C
  local dump=$1 device=$2 i=$3 delay=() args
  case $((i % 3)) in
    0) args=(--lock) ;;
    1) args=(--mode composition) ;;
    2) args=() ;;  # ends by Ctrl-C
  esac
  [ "$device" = "$virtual" ] && delay=(--delay 1)
  local before
  before=$(dump_size "$dump")
  "$cli" play "$work/quick.trw" "${args[@]}" --device "$device" "${delay[@]}" 2>"$work/load.log" &
  local pid=$!
  pids+=($pid)
  [ "$device" = "$virtual" ] && connect_virtual "$dump"
  if [ $((i % 3)) = 2 ]; then
    # Ctrl-C once notes arrive, so that the play has begun.
    for _ in $(seq 1 200); do
      [ "$(dump_size "$dump")" -gt "$before" ] && break
      sleep 0.05
    done
    kill -INT "$pid"
  fi
  wait "$pid" || { cat "$work/load.log"; fail "play $i on $device failed"; }
  [ "$device" = "$virtual" ] && wait_for_port_gone Tarrowin:Tarrowin
  return 0
}

series() {  # KIND TARGET TRY: ten plays or auditions through the port or the virtual port
  local kind=$1 target=$2 dump=$1_$2_$3 device label=port skipped
  start_dump "$dump"
  device="JACK: $dump:input"
  [ "$target" = virtual ] && device=$virtual && label="virtual port"
  if [ "$kind" = plays ]; then
    for i in $(seq 0 $((plays - 1))); do load_play "$dump" "$device" "$i"; done
  elif [ "$target" = port ]; then
    "$auditions" "$work/quick.trw" "$device" 0 "$plays" 2>"$work/audition.log" ||
      { cat "$work/audition.log"; fail "the auditions failed"; }
  else
    "$auditions" "$work/quick.trw" "$device" 0 "$plays" 1 2>"$work/audition.log" &
    local pid=$!
    pids+=($pid)
    connect_virtual "$dump"
    wait "$pid" || { cat "$work/audition.log"; fail "the auditions failed"; }
    wait_for_port_gone Tarrowin:Tarrowin
  fi
  settle_dump "$dump"
  stop_dump
  echo " $kind through the $label (at $((SECONDS - load_start)) s):"
  local check=endings
  [ "$kind" = auditions ] && check=sweeps
  "$python" scripts/test.d/jack_dump_check.py "$check" "$work/$dump.txt" "$plays" && return 0
  # jack_midi_dump says so when its own queue overflowed: then it, not the program, lost
  # messages, and the series is repeated once.
  skipped=$(grep -c "ringbuffer was full" "$work/$dump.err" || true)
  [ "$skipped" = 0 ] && return 1
  echo "  jack_midi_dump's own queue overflowed: it skipped $skipped messages itself"
  return 2
}

for target in port virtual; do
  for kind in plays auditions; do
    result=0
    series "$kind" "$target" 1 || result=$?
    if [ "$result" = 2 ]; then
      echo "  once more:"
      result=0
      series "$kind" "$target" 2 || result=$?
    fi
    [ "$result" = 0 ] || load_failed=1
  done
done
kill "${busy[@]}" 2>/dev/null || true
wait "${busy[@]}" 2>/dev/null || true
echo "  load stage: $((SECONDS - load_start)) s"
[ "$load_failed" = 0 ] || fail "under load, final messages were lost"
echo "JACK end-to-end: passed"
