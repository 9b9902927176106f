#!/usr/bin/env bash
# Builds the window, writes the demo disc and opens its first feature file in it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# The options of scripts/test.sh, so that the two never undo each other's choices.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DHALYARD_TESTS=ON -DHALYARD_BENCH=ON -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
cmake --build build --target halyard halyard-demo
build/demo/halyard-demo demo
exec build/halyard demo/HVDVD_TS/FEATURE_1.EVO
