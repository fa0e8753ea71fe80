#!/usr/bin/env bash
# The plain-C++ layers' tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_SANITIZE=address -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)" --target sanitize-tests
ctest --test-dir build-asan -L sanitize --no-tests=error --output-on-failure -j"$(nproc)" --timeout 900
