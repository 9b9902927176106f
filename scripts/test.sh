#!/usr/bin/env bash
# Builds Halyard and runs its tests.
#
#   scripts/test.sh         the release build and every test of its suite: the unit and
#                           command-line tests, the checks against ffmpeg and mkvmerge,
#                           the corpus replays and the window tests (offscreen)
#   scripts/test.sh --full  that, then the suite again under AddressSanitizer and
#                           UBSan, a round of every fuzz target (a minute each for the
#                           engine and the playlist reader, 30 seconds for the engine's
#                           fast path and for Rebuild, 10 for each of the others), the
#                           Debian package built,
#                           validated and checked
#                           in a fresh Debian root (scripts/package.sh,
#                           scripts/check-package.sh), halyard-cli.exe cross-built and
#                           its tests and checks run under Wine (scripts/test-windows.sh,
#                           scripts/build-windows.sh), and the README's commands run in
#                           order on a fresh clone of the last commit
set -euo pipefail
cd "$(dirname "$0")/.."

full=
case $# in
  0) ;;
  1) [ "$1" = --full ] || { echo "Usage: scripts/test.sh [--full]" >&2; exit 2; }; full=1 ;;
  *) echo "Usage: scripts/test.sh [--full]" >&2; exit 2 ;;
esac
jobs=$(nproc)
stage() { printf '== %s (%d:%02d)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

if [ -n "$full" ]; then
  scripts/install-deps.sh fuzz package check windows
else
  scripts/install-deps.sh
fi

stage "release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DHALYARD_TESTS=ON -DHALYARD_BENCH=ON -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure --no-tests=error

[ -n "$full" ] || exit 0

stage "tests under AddressSanitizer and UBSan"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHALYARD_TESTS=ON -DHALYARD_BENCH=OFF -DHALYARD_SANITIZE=ON -DHALYARD_FUZZ=OFF >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize -j "$jobs" --output-on-failure --no-tests=error

stage "fuzzing: the engine and the playlist reader for 60 seconds, the fast path and Rebuild for 30, the others for 10"
FUZZ_SECONDS_fuzz_demux=60 FUZZ_SECONDS_fuzz_playlist=60 FUZZ_SECONDS_fuzz_fast_path=30 FUZZ_SECONDS_fuzz_rebuild=30 \
  scripts/fuzz.sh 10

stage "the Debian package"
scripts/package.sh
deb=$(ls build-package/package/halyard_*.deb)
stage "the Debian package as a user installs it"
scripts/check-package.sh "$deb"

stage "Windows: halyard-cli.exe cross-built, its tests and checks under Wine"
scripts/test-windows.sh
scripts/build-windows.sh

# The README's commands in its order, as a newcomer runs them on a fresh clone: the
# release suite must run (and print its count) whatever the demo left configured.
stage "the README's commands on a fresh clone"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "(the clone holds the last commit; changes not committed are not in it)"
clone=$(mktemp -d)
trap 'rm -rf "$clone"' EXIT
git clone --quiet . "$clone/halyard"
log=$PWD/build/readme-commands.log
readme_commands() {
  cd "$clone/halyard" || return
  echo "\$ scripts/run-demo.sh" && scripts/run-demo.sh || return
  echo "\$ scripts/test.sh" && scripts/test.sh || return
  # The window stays open until it is closed: it passes when it is still running
  # after 20 seconds, on the offscreen platform.
  echo "\$ scripts/run-window.sh"
  QT_QPA_PLATFORM=offscreen timeout 20 scripts/run-window.sh
  [ $? -eq 124 ]
}
if ! (readme_commands) >"$log" 2>&1; then
  tail -40 "$log"
  echo "test.sh: a README command failed on the fresh clone, see $log" >&2
  exit 1
fi
count=$(grep -E '^100% tests passed, 0 tests failed out of [1-9][0-9]*$' "$log") ||
  { echo "test.sh: the fresh clone's scripts/test.sh printed no count of passed tests, see $log" >&2; exit 1; }
echo "fresh clone: run-demo.sh, test.sh ($count), run-window.sh"
stage "done"
