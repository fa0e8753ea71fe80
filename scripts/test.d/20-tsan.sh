#!/usr/bin/env bash
# The playback workers' tests again, built with ThreadSanitizer: the worker, the cooldown
# and the user-interface thread share only atomic words.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_SANITIZE=thread -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tsan-tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -L tsan --no-tests=error --output-on-failure -j"$(nproc)" --timeout 900

# The JACK backend's process callback (messages placed at their frames), the sync client's
# (transport, clock in) and the workers reading them, against a JACK server of its own.
server="tarrowin-tsan-jack-$$"
realtime=-r
chrt -f 10 true 2>/dev/null && realtime=-R
JACK_NO_AUDIO_RESERVATION=1 jackd -n "$server" "$realtime" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jackd_pid=$!
trap 'kill "$jackd_pid" 2>/dev/null; wait "$jackd_pid" 2>/dev/null' EXIT
JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 jack_wait -w -t 10 >/dev/null
JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 TARROWIN_JACK_TESTS=1 TSAN_OPTIONS="halt_on_error=1" \
  build-tsan/bin/device_tests --gtest_filter='JackBackend*'
