#!/usr/bin/env bash
# The playback workers' tests again, built with ThreadSanitizer: the worker, the cooldown
# and the user-interface thread share only atomic words.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_SANITIZE=thread -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tsan-tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -L tsan --no-tests=error --output-on-failure -j"$(nproc)" --timeout 900

# tarrowin-cli under ThreadSanitizer on a JACK server of its own: the JACK output's process
# callback (messages at their frames, clock out), the sync client's (transport, clock in)
# the timebase callback as master, and the worker reading them. The other ends are programs of their own (jack_midi_dump,
# jack_transport, jack_midi_clock): two clients in one process would share MIDI buffers
# that JACK orders with futexes ThreadSanitizer cannot see.
server="tarrowin-tsan-jack-$$"
realtime=-r
chrt -f 10 true 2>/dev/null && realtime=-R
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$PWD/tests/playback/tsan_jack.supp"
jackd -n "$server" "$realtime" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jackd_pid=$!
others=()
stop_jack() {
  kill "${others[@]}" 2>/dev/null || true
  sleep 0.2
  kill "$jackd_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  # A server stopped after its clients died keeps its slot in JACK's registry of servers
  # (eight in all): the same name once more, stopped cleanly, gives it back.
  if strings /dev/shm/jack-shm-registry 2>/dev/null | grep -q ":$server:"; then
    jackd -n "$server" -d dummy >/dev/null 2>&1 &
    jack_wait -w -t 5 >/dev/null 2>&1 || true
    kill $! 2>/dev/null || true
    wait 2>/dev/null || true
  fi
}
trap stop_jack EXIT
jack_wait -w -t 10 >/dev/null
cli=build-tsan/bin/tarrowin-cli
"$cli" new build-tsan/tsan.trw >/dev/null
"$cli" dump build-tsan/tsan.trw | /usr/bin/python3 -c '
import json, sys
doc = json.load(sys.stdin)
doc["current"].update(tempo=200, endCounter=60)
doc["current"]["voices"][0].update(tied=0, noteValueIndex=5, noteValue=1.0)
json.dump(doc, sys.stdout)' >build-tsan/tsan.json
"$cli" load build-tsan/tsan.json build-tsan/tsan.trw >/dev/null
jack_midi_dump tsan >/dev/null 2>&1 &
others+=($!)
jack_midi_clock -P >/dev/null 2>&1 &
others+=($!)
for _ in $(seq 1 100); do jack_lsp | grep -q tsan:input && jack_lsp | grep -q mclk_out && break; sleep 0.05; done
transport() { (sleep 1.5; echo master; echo play; sleep 2; echo stop; echo quit) | jack_transport >/dev/null 2>&1 & }
echo "tarrowin-cli play under ThreadSanitizer: clock out and a recording, following the transport, following a MIDI clock, leading the transport"
timeout 60 "$cli" play build-tsan/tsan.trw --lock --midi-clock --record build-tsan/tsan.mid --device "JACK: tsan:input" 2>/dev/null
transport
timeout 60 "$cli" play build-tsan/tsan.trw --sync jack --midi-clock --device "JACK: tsan:input" 2>/dev/null
wait $!
transport
timeout 60 "$cli" play build-tsan/tsan.trw --sync clock --clock-in jack_midi_clock:mclk_out --device "JACK: tsan:input" 2>/dev/null
wait $!
timeout 60 "$cli" play build-tsan/tsan.trw --lock --sync master --device "JACK: tsan:input" 2>/dev/null
