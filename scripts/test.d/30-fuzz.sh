#!/usr/bin/env bash
# Fuzzes the readers, the tools' command line and remote control's dispatch for a short,
# bounded time with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer: the document
# reader and load's JSON reader FUZZ_SECONDS each (default 15), the arguments of edit-voices
# and randomize half as long, the OSC dispatch a third as long, the Scala scale and keyboard
# map readers a quarter. Needs clang++; skipped without.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: fuzzing skipped"
  exit 0
fi
seconds=${FUZZ_SECONDS:-15}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARROWIN_FUZZ=ON -DTARROWIN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target document_reader_fuzz json_reader_fuzz tool_arguments_fuzz \
  osc_dispatch_fuzz tuning_reader_fuzz
# Allocation stacks are only wanted for a finding, which reproduces with the full options.
export ASAN_OPTIONS=malloc_context_size=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}

# fuzz TARGET CORPUS MAX_LEN SECONDS: new inputs go to a scratch corpus; the committed
# seeds are only read. Findings are written to build-fuzz/TARGET-crash-*.
fuzz() {
  mkdir -p "build-fuzz/corpus/$2"
  "build-fuzz/bin/$1" -max_total_time="$4" -max_len="$3" -print_final_stats=1 -artifact_prefix="build-fuzz/$1-" \
    "build-fuzz/corpus/$2" "fuzz/corpus/$2"
}
fuzz document_reader_fuzz document 20000 "$seconds"
fuzz json_reader_fuzz json 12000 "$seconds"
fuzz tool_arguments_fuzz tool_arguments 4096 $((seconds / 2))
fuzz osc_dispatch_fuzz osc 4096 $((seconds / 3))
fuzz tuning_reader_fuzz tuning 4096 $((seconds / 4))
