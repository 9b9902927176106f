#!/usr/bin/env bash
# Builds Halyard, writes the demo disc and reads its first feature file.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALYARD_TESTS=OFF >/dev/null
cmake --build build --target halyard-cli halyard-demo
build/demo/halyard-demo demo
build/halyard-cli read demo/HVDVD_TS/FEATURE_1.EVO
