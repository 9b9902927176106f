#!/usr/bin/env bash
# Builds and runs every test: the test suite in a release build and under
# AddressSanitizer and UBSan, then a round of every fuzz target: a minute each for the
# engine, its fast path and the playlist reader, which take whole files, 10 seconds for
# each analyser.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

echo "== release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== tests under AddressSanitizer and UBSan"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALYARD_SANITIZE=ON -DHALYARD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize -j "$jobs" --output-on-failure

echo "== fuzzing: the engine, its fast path and the playlist reader for 60 seconds, each analyser for 10"
FUZZ_SECONDS_fuzz_demux=60 FUZZ_SECONDS_fuzz_fast_path=60 FUZZ_SECONDS_fuzz_playlist=60 scripts/fuzz.sh 10
