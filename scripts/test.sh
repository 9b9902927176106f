#!/usr/bin/env bash
# Builds and runs every test: the test suite in a release build and under
# AddressSanitizer and UBSan, then the fuzz targets over the engine and over the
# playlist reader for 60 seconds each.
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

echo "== fuzzing the engine for 60 seconds"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DHALYARD_FUZZ=ON -DHALYARD_TESTS=OFF -DHALYARD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_demux fuzz_playlist
# Seeds: slices of the demo disc, which holds a stream of every family.
mkdir -p build-fuzz/corpus build-fuzz/seeds
build/demo/halyard-demo build-fuzz/disc >/dev/null
for file in build-fuzz/disc/HVDVD_TS/*.EVO; do
  for mib in 0 1 2 3; do
    dd if="$file" of="build-fuzz/seeds/$(basename "$file").$mib" bs=64K skip=$((mib * 16)) count=1 status=none
  done
done
build-fuzz/fuzz/fuzz_demux -max_total_time=60 -max_len=70000 -timeout=10 -rss_limit_mb=1024 \
  build-fuzz/corpus build-fuzz/seeds

echo "== fuzzing the playlist reader for 60 seconds"
# Seeds: the demo disc's playlist and the test playlists, each behind every value of
# the first byte's low bits (which pick the source name).
mkdir -p build-fuzz/playlist-corpus build-fuzz/playlist-seeds
for file in build-fuzz/disc/ADV_OBJ/VPLST000.XPL tests/playlists/*.XPL; do
  for control in 0 1 2 3 4 5 6 7; do
    { printf "\\$(printf %03o "$control")"; cat "$file"; } >"build-fuzz/playlist-seeds/$(basename "$file").$control"
  done
done
build-fuzz/fuzz/fuzz_playlist -max_total_time=60 -max_len=70000 -timeout=10 -rss_limit_mb=1024 \
  build-fuzz/playlist-corpus build-fuzz/playlist-seeds
echo "fuzzing: 0 findings"
