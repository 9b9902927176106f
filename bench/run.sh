#!/usr/bin/env bash
# Throughput and memory of halyard-cli read/demux/rebuild against cat, cp and ffmpeg.
#
#   bench/run.sh [BUILD_DIR]
#
# BUILD_DIR (default: build, relative to the repository) must hold a Release
# build with the benchmark tools; this script builds nothing. The stream goes
# to bench/data/ and is reused on later runs.
#
# Each command runs $runs times; the best wall time and the best CPU time
# (user + system) count, each on its own. On a busy machine wall time
# measures the other load as much as the command: the CPU columns hold then.
#
# Environment:
#   HALYARD_BENCH_GIB   size of the stream in GiB (default 1)
#   HALYARD_BENCH_RUNS  runs of each command (default 3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=${1:-build}
[[ $build = /* ]] || build=$repo/$build
gib=${HALYARD_BENCH_GIB:-1}
runs=${HALYARD_BENCH_RUNS:-3}

cli=$build/halyard-cli
measure=$build/bench/halyard-measure
make_stream=$build/bench/halyard-bench-stream
pictures=$build/bench/halyard-bench-pictures
playlist=$build/bench/halyard-bench-playlist
subtitles=$build/bench/halyard-bench-subtitles
for tool in "$cli" "$measure" "$make_stream" "$pictures" "$playlist" "$subtitles"; do
    [[ -x $tool ]] || { echo "missing $tool: build $build first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

data=$here/data
file=$data/bench-${gib}GiB.vob
work=$data/work
mkdir -p "$data"
if [[ ! -s $file ]]; then
    echo "Writing $file ..."
    "$make_stream" "$file.part" "$gib"
    mv "$file.part" "$file"
fi
size=$(stat -c %s "$file")
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

echo "Warming the page cache ..."
cat "$file" >/dev/null

ffmpeg_copy=(ffmpeg -nostdin -v error -y -i "$file"
    -map 0:v:0 -c copy -f mpeg2video "$work/ffmpeg/v.m2v"
    -map 0:a:0 -c copy -f ac3 "$work/ffmpeg/a0.ac3"
    -map 0:a:1 -c copy -f ac3 "$work/ffmpeg/a1.ac3"
    -map 0:a:2 -c copy -f dts "$work/ffmpeg/a2.dts"
    -map 0:s:0 -c copy -f data "$work/ffmpeg/s0.sup")

# Clears what the command NAME wrote last time and flushes dirty pages, outside the timing.
prepare() {
    case $1 in
    cp | dd) rm -f "$work/$1" ;;
    demux | demux-f0 | rebuild | rebuild-f0 | ffmpeg) rm -rf "${work:?}/$1" && mkdir -p "$work/$1" ;;
    esac
    sync
}

field() { sed -E "s/.* $1=([0-9.]+).*/\\1/" <<<"$2"; }
faster() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# bench NAME CMD...: best wall time, best CPU time and largest peak RSS over $runs runs.
declare -A wall cpu rss
bench() {
    local name=$1
    shift
    local w="" c="" r=0 i line t u kib
    for ((i = 0; i < runs; i++)); do
        prepare "$name"
        if ! "$measure" -- "$@" >/dev/null 2>"$work/stderr"; then
            echo "$name failed:" >&2
            cat "$work/stderr" >&2
            exit 1
        fi
        line=$(grep '^halyard-measure: ' "$work/stderr" | tail -1)
        t=$(field wall "$line")
        u=$(awk -v u="$(field user "$line")" -v s="$(field sys "$line")" 'BEGIN { print u + s }')
        kib=$(field maxrss_kib "$line")
        if [[ -z $w ]] || faster "$t" "$w"; then w=$t; fi
        if [[ -z $c ]] || faster "$u" "$c"; then c=$u; fi
        ((kib > r)) && r=$kib
    done
    wall[$name]=$w
    cpu[$name]=$c
    rss[$name]=$r
    printf '  %-7s wall %7.3f s  cpu %7.3f s\n' "$name" "$w" "$c"
}

echo "Load average before timing: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "Timing $file ($size bytes), best of $runs ..."
bench cat cat "$file"
bench cp cp "$file" "$work/cp"
# The same copy through read() and write() of 256 KiB blocks, as the demuxer reads and writes.
bench dd dd if="$file" of="$work/dd" bs=256K status=none
rm -f "$work/cp" "$work/dd"
bench ffmpeg "${ffmpeg_copy[@]}"
bench read "$cli" read --no-fast-check "$file"
bench demux "$cli" demux --no-fast-check --output "$work/demux" "$file"
# demux first reads the file to find its streams (the whole file with --no-fast-check),
# then demuxes it; with a fast-check size of 0 that first read stops after one block,
# which leaves the demux pass on its own.
bench demux-f0 "$cli" demux --fast-size 0 --output "$work/demux-f0" "$file"
# rebuild takes only .EVO sources: the same stream under that name. Every stream is kept,
# so every pack is read, rewritten where its ids or navigation data change, and written.
ln -s "$file" "$work/bench.EVO"
bench rebuild "$cli" rebuild --output "$work/rebuild" "$work/bench.EVO"
bench rebuild-f0 "$cli" rebuild --fast-size 0 --output "$work/rebuild-f0" "$work/bench.EVO"
echo "Load average after timing: $(cut -d' ' -f1-3 /proc/loadavg)"

# The last demux and ffmpeg outputs are still there: the elementary streams must agree.
base=$(basename "$file" .vob)
check() {
    local dir
    for dir in demux demux-f0; do
        if cmp -s "$work/$dir/$base.$1" "$work/ffmpeg/$2"; then echo "  $dir $1 = ffmpeg $2"
        else echo "  MISMATCH: $dir $1 differs from ffmpeg $2"; fi
    done
}
echo "Output check:"
check MPEG-2.stream.0.mpv v.m2v
check DD.stream.00.mpa a0.ac3
check DD.stream.01.mpa a1.ac3
check DTSHD.stream.02.mpa a2.dts
for dir in rebuild rebuild-f0; do
    if [[ $(stat -c %s "$work/$dir/bench.rebuilt.EVO") = "$size" ]]; then echo "  $dir keeps every pack"
    else echo "  MISMATCH: $dir bench.rebuilt.EVO is not $size bytes"; fi
done

echo
echo "                   ------------ wall time -------------   ------------- CPU time -------------"
printf '%-10s %8s %7s %6s %6s %6s  %8s %7s %6s %6s %6s %8s\n' command seconds GB/s "x cat" "x cp" "x ffm" \
    seconds GB/s "x cat" "x cp" "x ffm" "RSS MiB"
for name in cat cp dd ffmpeg read demux demux-f0 rebuild rebuild-f0; do
    awk -v n="$name" -v s="$size" -v kib="${rss[$name]}" \
        -v w="${wall[$name]}" -v wcat="${wall[cat]}" -v wcp="${wall[cp]}" -v wff="${wall[ffmpeg]}" \
        -v c="${cpu[$name]}" -v ccat="${cpu[cat]}" -v ccp="${cpu[cp]}" -v cff="${cpu[ffmpeg]}" \
        'function rate(t) { return t > 0 ? s / t / 1e9 : 0 }
         function ratio(a, b) { return b > 0 ? a / b : 0 }
         BEGIN { printf "%-10s %8.3f %7.2f %6.2f %6.2f %6.2f  %8.3f %7.2f %6.2f %6.2f %6.2f %8.1f\n",
                 n, w, rate(w), ratio(w, wcat), ratio(w, wcp), ratio(w, wff),
                 c, rate(c), ratio(c, ccat), ratio(c, ccp), ratio(c, cff), kib / 1024 }'
done
echo "(GB/s: 1e9 bytes of the stream a second; x cat, x cp, x ffm: time over that command's time;"
echo " CPU time = user + system; RSS: peak resident memory over the runs;"
echo " cp copies inside the kernel (copy_file_range); dd: the copy through read() and write() of 256 KiB"
echo " blocks, the floor of a demuxer that reads and writes;"
echo " demux: read pass over the whole file + demux pass; demux-f0: the demux pass after a one-block read;"
echo " rebuild: read pass (300 MiB fast check) + rebuild pass; rebuild-f0: the rebuild pass after a one-block read)"

echo
"$pictures" "$work/ffmpeg/v.m2v"
"$pictures"

echo
"$playlist"

echo
"$subtitles"

echo
awk -v s="$size" -v rw="${wall[read]}" -v rc="${cpu[read]}" -v dw="${wall[demux]}" -v dc="${cpu[demux]}" \
    -v pw="${wall[demux-f0]}" -v pc="${cpu[demux-f0]}" \
    -v bw="${wall[rebuild]}" -v bc="${cpu[rebuild]}" -v fw="${wall[rebuild-f0]}" -v fc="${cpu[rebuild-f0]}" \
    -v cw="${wall[cp]}" -v cc="${cpu[cp]}" -v rr="${rss[read]}" -v dr="${rss[demux]}" -v br="${rss[rebuild]}" '
    function verdict(ok) { return ok ? "met" : "MISSED" }
    BEGIN {
        printf "Target read >= 3 GB/s:         wall %.2f GB/s %s, CPU %.2f GB/s %s\n",
            s / rw / 1e9, verdict(s / rw / 1e9 >= 3), s / rc / 1e9, verdict(s / rc / 1e9 >= 3)
        printf "Target demux <= 2 x cp:        wall %.2f x %s, CPU %.2f x %s\n",
            dw / cw, verdict(dw / cw <= 2), dc / cc, verdict(dc / cc <= 2)
        printf "  (demux pass alone, demux-f0: wall %.2f x cp, CPU %.2f x cp)\n", pw / cw, pc / cc
        printf "Target rebuild <= 1.5 x cp:    wall %.2f x %s, CPU %.2f x %s\n",
            bw / cw, verdict(bw / cw <= 1.5), bc / cc, verdict(bc / cc <= 1.5)
        printf "  (rebuild pass alone, rebuild-f0: wall %.2f x cp, CPU %.2f x cp)\n", fw / cw, fc / cc
        printf "Target peak RSS <= 16 MiB:     read %.1f MiB, demux %.1f MiB, rebuild %.1f MiB %s\n",
            rr / 1024, dr / 1024, br / 1024, verdict(rr <= 16384 && dr <= 16384 && br <= 16384)
        print  "Target picture counter >= 4 GB/s: see the cache figures above"
        print  "Target Read XPL of 100,000 lines < 0.1 s: see the playlist figures above"
        print  "Target two hours of captions to PGS well under 1 s: see the subtitles figures above"
    }'
