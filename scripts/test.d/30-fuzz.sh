#!/usr/bin/env bash
# Fuzzes the document reader for a short, bounded time (FUZZ_SECONDS, default 30) with
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer. Needs clang++; skipped without.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: fuzzing skipped"
  exit 0
fi
seconds=${FUZZ_SECONDS:-30}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARROWIN_FUZZ=ON -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target document_reader_fuzz
# New inputs go to a scratch corpus; the committed seeds are only read.
mkdir -p build-fuzz/corpus/document
build-fuzz/bin/document_reader_fuzz -max_total_time="$seconds" -max_len=20000 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/ build-fuzz/corpus/document fuzz/corpus/document
