#!/usr/bin/env bash
# The programs whose threads share data, built with ThreadSanitizer: the playback workers'
# tests, the device tests on a JACK dummy server of our own (the JACK backend's process
# callback and drain, the synthesizer's audio callback and its queue on FluidSynth's JACK
# driver, the stream kept between plays) and the window's Qt Test programs (the notes
# view's background computation, recovery's timer, the playback controller's reports)
# and the remote layer's tests (the OSC server's and the NSM client's threads).
# scripts/tsan-suppressions.txt names the false reports of system libraries built
# without ThreadSanitizer, each with its reason.
set -euo pipefail
cd "$(dirname "$0")/../.."
for tool in jackd jack_lsp jack_midi_clock jack_midi_dump jack_transport jack_wait; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
root=$PWD
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_SANITIZE=thread -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tsan-tests

source scripts/jack-servers.sh
jack_free_dead_slots
work=$(mktemp -d -t tarrowin-tsan.XXXXXX)
server_pid=
cleanup() {
  set +e  # the exit status is the stage's: a step of the clean-up that fails must not change it
  # A server stopped with SIGTERM removes its files in /dev/shm, which later clients need.
  # The semaphores of clients killed on the way (and at times the server's own) stay, and
  # the server's slot in JACK's registry when a client died under it.
  if [ -n "$server_pid" ]; then jack_stop_server "$JACK_DEFAULT_SERVER" "$server_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT

# In synchronous mode each cycle waits for every client: the clients ThreadSanitizer slows
# down delay the cycle instead of losing it, as an asynchronous server would.
export JACK_DEFAULT_SERVER="tarrowin-tsan-$$" JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
realtime=(-r)
if chrt -f 10 true 2>/dev/null; then realtime=(-R); fi
jackd -n "$JACK_DEFAULT_SERVER" -S "${realtime[@]}" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
server_pid=$!
jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$work/jackd.log"; echo "FAIL: jackd did not start"; exit 1; }

export TARROWIN_JACK_TESTS=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan-suppressions.txt"
# GLib's slab allocator (before GLib 2.76) hands the memory of a thread that ended to
# another one through a lock of its own; plain malloc leaves nothing of that to report.
export G_SLICE=always-malloc
ctest --test-dir build-tsan -L tsan --no-tests=error --output-on-failure -j"$(nproc)" --timeout 900

# tarrowin-cli on the same server: the JACK output's process callback (messages at their
# frames, clock out), the sync client's (transport, clock in), the timebase callback as
# master, and the worker reading them. The other ends are programs of their own
# (jack_midi_dump, jack_transport, jack_midi_clock).
others=()
stop_others() {
  set +e  # the exit status is the stage's: a step of the clean-up that fails must not change it
  for pid in "${others[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${others[@]}" 2>/dev/null || true
  cleanup
}
trap stop_others EXIT
export TSAN_OPTIONS="$TSAN_OPTIONS exitcode=66"
cli=build-tsan/bin/tarrowin-cli
"$cli" new "$work/tsan.trw" >/dev/null
"$cli" dump "$work/tsan.trw" | /usr/bin/python3 -c '
import json, sys
doc = json.load(sys.stdin)
doc["current"].update(tempo=200, endCounter=60)
doc["current"]["voices"][0].update(tied=0, noteValueIndex=5, noteValue=1.0)
json.dump(doc, sys.stdout)' >"$work/tsan.json"
"$cli" load "$work/tsan.json" "$work/tsan.trw" >/dev/null
jack_midi_dump tsan >/dev/null 2>&1 &
others+=($!)
has_port() { jack_lsp 2>/dev/null | grep -q "$1"; }
start_clock() {  # jack_midi_clock, until its port is there (10 s at most)
  jack_midi_clock -P >/dev/null 2>&1 &
  others+=($!)
  for _ in $(seq 1 200); do has_port mclk_out && return 0; sleep 0.05; done
  return 1
}
start_clock || true
for _ in $(seq 1 200); do has_port tsan:input && break; sleep 0.05; done
# A play that fails shows the server's last words too (a client it dropped, late cycles).
failed() { cat "$work/play.log"; echo "the JACK server's log, last lines:"; tail -20 "$work/jackd.log"; exit 1; }
# A play that follows waits for the transport (or the clock of it) to roll: it rolls for 2 s
# once the play says it waits, however long a loaded machine took to start the play.
follow_play() {  # WAITING-NOTICE OPTIONS...
  local notice=$1
  shift
  timeout 60 "$cli" play "$work/tsan.trw" "$@" --device "JACK: tsan:input" 2>"$work/play.log" &
  local play=$!
  for _ in $(seq 1 600); do grep -qs "$notice" "$work/play.log" && break; sleep 0.05; done
  (echo master; echo play; sleep 2; echo stop; echo quit) | jack_transport >/dev/null 2>&1
  wait "$play" || failed
}
echo "tarrowin-cli play under ThreadSanitizer: clock out and a recording, following the transport, following a MIDI clock, leading the transport"
timeout 60 "$cli" play "$work/tsan.trw" --lock --midi-clock --record "$work/tsan.mid" --device "JACK: tsan:input" 2>"$work/play.log" ||
  failed
follow_play "Waiting for the JACK transport to roll" --sync jack --midi-clock
# The clock's sender is a client like any other: one the server dropped on a loaded machine
# is started once more (saying so) rather than blamed on the player.
if ! has_port mclk_out; then
  echo "  jack_midi_clock's port is gone; the JACK server's log, last lines:"
  tail -5 "$work/jackd.log" | sed 's/^/    /'
  start_clock || { echo "FAIL: jack_midi_clock did not start"; exit 1; }
  echo "  jack_midi_clock started once more"
fi
follow_play "Waiting for a MIDI clock to start" --sync clock --clock-in jack_midi_clock:mclk_out
timeout 60 "$cli" play "$work/tsan.trw" --lock --sync master --device "JACK: tsan:input" 2>"$work/play.log" ||
  failed
