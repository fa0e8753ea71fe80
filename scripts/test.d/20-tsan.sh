#!/usr/bin/env bash
# The playback workers' tests again, built with ThreadSanitizer: the worker, the cooldown
# and the user-interface thread share only atomic words.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_SANITIZE=thread -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tsan-tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -L tsan --no-tests=error --output-on-failure -j"$(nproc)" --timeout 900
