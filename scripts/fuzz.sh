#!/usr/bin/env bash
# Fuzzes every target in fuzz/ (fuzz/FuzzName.cpp is the target fuzz_name) for SECONDS
# each, one after the other (default 600; scripts/test.sh runs a short round).
#
#   scripts/fuzz.sh [SECONDS]
#
# FUZZ_SECONDS_<target> (for example FUZZ_SECONDS_fuzz_demux=60) gives one target a
# time of its own.
#
# Each target starts from its part of the regression corpus, tests/corpus/<target>/
# (the engine's also from slices of the demo disc), and keeps what it learns in
# build-fuzz/corpus/<target>/. An input that makes a target fail is written to
# build-fuzz/findings/; once mended, keep it in tests/corpus/<target>/, where the test
# suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

targets=()
for source in fuzz/Fuzz*.cpp; do
  targets+=("$(basename "$source" .cpp | sed -E 's/([a-z0-9])([A-Z])/\1_\2/g' | tr '[:upper:]' '[:lower:]')")
done

scripts/install-deps.sh fuzz
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DHALYARD_FUZZ=ON -DHALYARD_TESTS=OFF -DHALYARD_BENCH=OFF -DHALYARD_SANITIZE=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

# The engine's extra seeds: slices of the demo disc, which holds a stream of every family.
if [ ! -x build/demo/halyard-demo ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DHALYARD_TESTS=ON -DHALYARD_BENCH=ON -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
  cmake --build build -j "$(nproc)" --target halyard-demo
fi
rm -rf build-fuzz/disc build-fuzz/seeds
mkdir -p build-fuzz/seeds build-fuzz/findings
build/demo/halyard-demo build-fuzz/disc >/dev/null
for file in build-fuzz/disc/HVDVD_TS/*.EVO; do
  for mib in 0 1 2 3; do
    dd if="$file" of="build-fuzz/seeds/$(basename "$file").$mib" bs=64K skip=$((mib * 16)) count=1 status=none
  done
done

failed=()
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target" "tests/corpus/$target"
  seeds=("tests/corpus/$target")
  [ "$target" = fuzz_demux ] && seeds+=(build-fuzz/seeds)
  own="FUZZ_SECONDS_$target"
  if build-fuzz/fuzz/"$target" -max_total_time="${!own:-$seconds}" -max_len=70000 -timeout=10 -rss_limit_mb=1024 \
      -artifact_prefix="build-fuzz/findings/$target-" "build-fuzz/corpus/$target" "${seeds[@]}" \
      >"build-fuzz/$target.log" 2>&1; then
    echo "$target: $(grep -o 'Done [0-9]* runs' "build-fuzz/$target.log" | tail -1 | cut -d' ' -f2) runs, no finding"
  else
    echo "$target: FAILED, see build-fuzz/$target.log and build-fuzz/findings/"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzing: findings in ${failed[*]}"; exit 1; }
echo "fuzzing: 0 findings"
