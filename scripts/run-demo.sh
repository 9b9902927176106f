#!/usr/bin/env bash
# Builds Halyard, writes the demo disc and reads its first feature file.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# The options of scripts/test.sh, so that the two never undo each other's choices.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DHALYARD_TESTS=ON -DHALYARD_BENCH=ON -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
cmake --build build --target halyard-cli halyard-demo
build/demo/halyard-demo demo
build/halyard-cli read demo/HVDVD_TS/FEATURE_1.EVO
