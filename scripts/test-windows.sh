#!/usr/bin/env bash
# Tests the Windows build under Wine, headless:
#   1. the core's GoogleTest suite, cross-built with Debian's MinGW-w64 and GoogleTest's
#      sources, run by ctest under wine64 (the tests labelled tools or posix, which need
#      ffmpeg, mkvmerge or a POSIX shell, are left out; see tests/CMakeLists.txt);
#   2. halyard-cli.exe read and demux on the demo disc, whose log and files must be the
#      same bytes as the Linux build's; the same under a name with letters beyond ASCII
#      and under a path longer than 260 characters;
#   3. what a user does in a cmd session: demux --mkvmerge writes an option file with
#      Windows paths; a second run into the same folder is refused while the first holds
#      its locks; a link to the source (mklink /H) under an output name is refused.
# Builds into build-windows-tests (the Windows programs and Wine's prefix) and, for the
# demo disc, which needs ffmpeg, build (the release build of scripts/test.sh). Exits
# non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
stage() { printf '== %s (%d:%02d)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }
fail() { echo "test-windows.sh: $*" >&2; exit 1; }

scripts/install-deps.sh windows

stage "Linux build of halyard-cli and the demo generator"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DHALYARD_TESTS=ON -DHALYARD_BENCH=ON -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
cmake --build build -j "$jobs" --target halyard-cli halyard-demo

stage "cross build of the tests and halyard-cli.exe"
build=build-windows-tests
cmake -S . -B "$build" -G Ninja --toolchain cmake/MinGW-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DHALYARD_TESTS=ON -DHALYARD_BENCH=OFF -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target halyard_tests halyard-cli halyard-test-child

# Wine without a display, its messages, or the offers to install Mono and Gecko.
export WINEPREFIX=$root/$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || fail "$wine not found (package wine64)"
stage "Wine's first start"
"$wine" wineboot --init >/dev/null 2>&1 || fail "wineboot failed"

stage "the test suite under Wine"
ctest --test-dir "$build" -j "$jobs" --output-on-failure --no-tests=error

# Paths as Windows programs take them: the build machine's files are on drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
exe=$root/$build/halyard-cli.exe
linux=$root/build/halyard-cli
work=$root/$build/check
rm -rf "$work"
mkdir -p "$work"

stage "the demo disc"
build/demo/halyard-demo "$work/demo" >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "halyard-demo failed"; }

# Runs read and demux on FILE (in a folder of its own) with each build; the logs and the
# files written must be the same bytes.
same_as_linux() {
  local file=$1 name=$2
  local out=$work/$name
  mkdir -p "$out/linux" "$out/windows"
  "$linux" read "$file" >"$out/read.linux" 2>&1 || fail "$name: Linux read failed"
  "$wine" "$exe" read "$(winpath "$file")" >"$out/read.windows" 2>&1 || {
    cat "$out/read.windows"; fail "$name: halyard-cli.exe read failed"; }
  cmp "$out/read.linux" "$out/read.windows" || fail "$name: the logs of read differ"
  "$linux" demux --lpcm-wav --output "$out/linux" "$file" >"$out/demux.linux" 2>&1 ||
    fail "$name: Linux demux failed"
  "$wine" "$exe" demux --lpcm-wav --output "$(winpath "$out/windows")" "$(winpath "$file")" \
    >"$out/demux.windows" 2>&1 || { cat "$out/demux.windows"; fail "$name: halyard-cli.exe demux failed"; }
  # The log names each output by its path, which is the one thing that differs.
  local log folder
  log=$(<"$out/demux.windows")
  folder="$(winpath "$out/windows")\\"
  log=${log//"$folder"/"$out/linux/"}
  [ "$log" = "$(<"$out/demux.linux")" ] || {
    diff "$out/demux.linux" <(printf '%s\n' "$log"); fail "$name: the logs of demux differ"; }
  diff -r "$out/linux" "$out/windows" || fail "$name: demux wrote other files"
  [ -n "$(ls "$out/windows")" ] || fail "$name: demux wrote nothing"
  echo "$name: read and demux as on Linux ($(ls "$out/windows" | wc -l) files)"
}

stage "read and demux against the Linux build"
same_as_linux "$work/demo/HVDVD_TS/FEATURE_1.EVO" demo
# Letters beyond ASCII, in the folder and in the file names (the second feature file is
# joined by its name).
odd="$work/Früh & spät €/Ünïcødé ✓"
mkdir -p "$odd"
cp "$work/demo/HVDVD_TS/FEATURE_1.EVO" "$odd/Fïlm €_1.EVO"
cp "$work/demo/HVDVD_TS/FEATURE_2.EVO" "$odd/Fïlm €_2.EVO"
same_as_linux "$odd/Fïlm €_1.EVO" unicode
# A path of more than 260 characters.
deep=$work/deep
for i in 1 2 3 4 5 6; do deep=$deep/folder-$i-with-a-name-long-enough-to-pass-the-old-limit-soon; done
mkdir -p "$deep"
cp "$work/demo/HVDVD_TS/FEATURE_1.EVO" "$deep/FEATURE_1.EVO"
[ ${#deep} -gt 260 ] || fail "the deep path is not deep enough"
same_as_linux "$deep/FEATURE_1.EVO" deep

stage "Ctrl-C"
# Ctrl-C (Wine hands a SIGINT on as the console's Ctrl-C event) stops a read on its way:
# the program ends its log ("Done.") and exits with status 130, which it gives only when
# stopped (a process killed by the signal would end its log short). The source is long
# enough to be stopped: the first feature file, then 16 GiB of zero bytes in a sparse
# file, which costs no disk.
long=$work/long/FEATURE_1.EVO
mkdir -p "$work/long"
cp "$work/demo/HVDVD_TS/FEATURE_1.EVO" "$long"
truncate -s 16G "$long"
"$wine" "$exe" read --no-fast-check "$(winpath "$long")" >"$work/long/read.log" 2>&1 &
pid=$!
for ((i = 0; i < 600; i++)); do
  grep -q "^File size" "$work/long/read.log" && break
  sleep 0.1
done
kill -INT "$pid"
status=0
wait "$pid" || status=$?
rm -f "$long"
[ "$status" -eq 130 ] || { cat "$work/long/read.log"; fail "Ctrl-C: exit status $status, not 130"; }
grep -q "^Done\.$" "$work/long/read.log" || { cat "$work/long/read.log"; fail "Ctrl-C: the log did not end"; }
echo "Ctrl-C: the read stopped with exit status 130"

stage "as a user in cmd"
user=$work/user
mkdir -p "$user/out"
cp -r "$work/demo/HVDVD_TS" "$work/demo/ADV_OBJ" "$user/"
cp "$exe" "$user/halyard-cli.exe"
# A source long enough to be demuxed while a second run starts: the first feature file
# many times over (program streams join end to end).
for i in $(seq 60); do cat "$user/HVDVD_TS/FEATURE_1.EVO"; done >"$user/LONG.EVO"
cat >"$user/check.bat" <<'BAT'
@echo off
rem The option file for mkvmerge, with Windows paths.
halyard-cli.exe demux --no-continue --mkvmerge --output out HVDVD_TS\FEATURE_1.EVO > mkvmerge.log 2>&1
echo mkvmerge: %ERRORLEVEL%
rem A second run into the folder that the first one is writing (both read the first
rem MiB alone before they open their outputs, and the first one takes a while to demux).
mkdir locked
start "" /b cmd /c first.bat
:wait
if exist locked\LONG.MPEG-2.stream.0.mpv goto second
if exist first.done goto second
goto wait
:second
halyard-cli.exe demux --fast-size 1 --output locked LONG.EVO > second.log 2>&1
echo second: %ERRORLEVEL%
:waitfirst
if not exist first.done goto waitfirst
rem A hard link to the source under the name of an output.
mkdir linked
mklink /H linked\FEATURE_1.MPEG-2.stream.0.mpv HVDVD_TS\FEATURE_1.EVO > mklink.log 2>&1
halyard-cli.exe demux --no-continue --output linked HVDVD_TS\FEATURE_1.EVO > linked.log 2>&1
echo linked: %ERRORLEVEL%
BAT
cat >"$user/first.bat" <<'BAT'
@echo off
halyard-cli.exe demux --fast-size 1 --output locked LONG.EVO > first.log 2>&1
echo %ERRORLEVEL% > first.done
BAT
(cd "$user" && "$wine" cmd /c check.bat) >"$user/cmd.log" 2>&1 || true
tr -d '\r' <"$user/cmd.log" >"$user/cmd.txt"
cat "$user/cmd.txt"
grep -qx 'mkvmerge: 0' "$user/cmd.txt" || { cat "$user/mkvmerge.log"; fail "demux --mkvmerge failed"; }
options=$user/out/FEATURE_1.mkvmerge.json
[ -f "$options" ] || fail "no option file: $(ls "$user/out")"
python3 - "$options" "$(winpath "$user/out")" "$user/out" <<'PY' || fail "the option file does not name the written files by Windows paths"
import json, ntpath, os, sys
options, folder, unix = json.load(open(sys.argv[1], encoding="utf-8")), sys.argv[2], sys.argv[3]
mkv = options[options.index("--output") + 1]
assert mkv == folder + "\\FEATURE_1.mkv", mkv
paths = [a for a in options if isinstance(a, str) and a.startswith(folder + "\\") and a != mkv]
assert paths, "no path in the output folder"
assert all("/" not in p for p in paths), paths
for p in paths:
    assert os.path.exists(os.path.join(unix, ntpath.relpath(p, folder).replace("\\", "/"))), p
print(f"option file: {len(paths)} Windows paths, each naming a written file")
PY
grep -qx 'second: 1' "$user/cmd.txt" || { cat "$user/second.log"; fail "the second run was not refused"; }
grep -q 'It is being written by another process' "$user/second.log" || { cat "$user/second.log"; fail "the second run gave another reason"; }
[ "$(tr -d ' \r\n' <"$user/first.done")" = 0 ] || { cat "$user/first.log"; fail "the first run failed"; }
echo "a second run into the same folder: refused while the first ran"
grep -qx 'linked: 1' "$user/cmd.txt" || { cat "$user/linked.log" "$user/mklink.log"; fail "a link to the source as an output was not refused"; }
grep -q 'It is the source file' "$user/linked.log" || { cat "$user/linked.log"; fail "the link was refused for another reason"; }
cmp "$user/HVDVD_TS/FEATURE_1.EVO" "$work/demo/HVDVD_TS/FEATURE_1.EVO" || fail "the source was changed"
echo "a link to the source under an output name: refused, the source whole"

# Wine's server stays a few seconds after its last program: ended here.
/usr/lib/wine/wineserver -k 2>/dev/null || true
stage "done"
