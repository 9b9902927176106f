#!/usr/bin/env bash
# Builds halyard-cli.exe for 64-bit Windows with Debian's MinGW-w64 cross compiler (the
# posix flavour), linked statically so that it needs no DLL beside it, and packs it with
# the README and the licence:
#   build-windows/halyard-cli.exe
#   build-windows/halyard-cli-VERSION-win64.zip
# CLI11 and nlohmann-json are taken from the build machine's Debian packages; the window
# is not built (there is no Qt for Windows here).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh windows
build=build-windows
cmake -S . -B "$build" -G Ninja --toolchain cmake/MinGW-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DHALYARD_TESTS=OFF -DHALYARD_BENCH=OFF -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target halyard-cli

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=halyard-cli-$version-win64
stage=$build/zip/$name
rm -rf "$build/zip" "$build/$name.zip"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/halyard-cli.exe" "$build/halyard-cli.exe"
cp README.md "$stage/README.md"
cp COPYING "$stage/COPYING.txt"
# Every file dated to the last commit, so that the same sources give the same archive.
stamp=$(git log -1 --format=%cI 2>/dev/null || date -u +%FT%TZ)
touch -d "$stamp" "$stage" "$stage"/*
(cd "$build/zip" && TZ=UTC zip -q -X -r "../$name.zip" "$name")
echo "$build/$name.zip"
