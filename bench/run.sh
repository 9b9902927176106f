#!/usr/bin/env bash
# Throughput and memory of halyard-cli read/demux/rebuild against cat, cp, dd and ffmpeg.
#
#   bench/run.sh [BUILD_DIR [BASELINE_BUILD_DIR]]
#
# BUILD_DIR (default: build, relative to the repository) must hold a Release
# build with the benchmark tools; this script builds nothing. The stream goes
# to bench/data/ and is reused on later runs. With BASELINE_BUILD_DIR (a Release
# build of another version, e.g. of the main branch) the halyard-cli rows are also
# timed with that build's halyard-cli, as rows NAME@base, in the same run.
#
# Method. Each command runs $runs times, page cache warm. Before every run, outside
# its timing, the outputs of the previous run are removed, then the machine settles:
# sync, and a wait until /proc/meminfo shows no dirty pages and no writeback (so the
# writeback of the last run, and the discards that deleting its outputs causes on a
# file system mounted with "discard", do not land in the next run). No run writes onto
# an existing file: ext4 starts writeback when a file is truncated or replaced.
# The best and the median of the wall times are printed, the best CPU time
# (user + system) and the largest peak RSS. On a busy machine wall time measures the
# other load as much as the command: the CPU columns hold then.
#
# The cold rows drop the page cache before each run (echo 3 > /proc/sys/vm/drop_caches,
# root only); without that right they are left out and the table says so.
#
# Environment:
#   HALYARD_BENCH_GIB        size of the stream in GiB (default 1)
#   HALYARD_BENCH_RUNS       runs of each command, page cache warm (default 5)
#   HALYARD_BENCH_COLD_RUNS  runs of each cold row (default 3; 0 leaves them out)
#   HALYARD_BENCH_SETTLE_KIB dirty and writeback memory that counts as settled (default 256)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=${1:-build}
[[ $build = /* ]] || build=$repo/$build
baseline=${2:-}
[[ -z $baseline || $baseline = /* ]] || baseline=$repo/$baseline
gib=${HALYARD_BENCH_GIB:-1}
runs=${HALYARD_BENCH_RUNS:-5}
cold_runs=${HALYARD_BENCH_COLD_RUNS:-3}
settle_kib=${HALYARD_BENCH_SETTLE_KIB:-256}

cli=$build/halyard-cli
measure=$build/bench/halyard-measure
make_stream=$build/bench/halyard-bench-stream
pictures=$build/bench/halyard-bench-pictures
playlist=$build/bench/halyard-bench-playlist
subtitles=$build/bench/halyard-bench-subtitles
for tool in "$cli" "$measure" "$make_stream" "$pictures" "$playlist" "$subtitles"; do
    [[ -x $tool ]] || { echo "missing $tool: build $build first" >&2; exit 1; }
done
[[ -z $baseline || -x $baseline/halyard-cli ]] || { echo "missing $baseline/halyard-cli" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }
mkvmerge=$(command -v mkvmerge || true)
[[ -n $mkvmerge ]] || echo "mkvmerge not found: the mkv rows are left out" >&2

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
# rebuild takes only .EVO sources: the same stream under that name.
ln -s "$file" "$work/bench.EVO"

can_drop=0
if ((cold_runs > 0)) && [[ -w /proc/sys/vm/drop_caches ]] && sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
    can_drop=1
fi

ffmpeg_copy=(ffmpeg -nostdin -v error -y -i "$file"
    -map 0:v:0 -c copy -f mpeg2video "$work/ffmpeg/v.m2v"
    -map 0:a:0 -c copy -f ac3 "$work/ffmpeg/a0.ac3"
    -map 0:a:1 -c copy -f ac3 "$work/ffmpeg/a1.ac3"
    -map 0:a:2 -c copy -f dts "$work/ffmpeg/a2.dts"
    -map 0:s:0 -c copy -f data "$work/ffmpeg/s0.sup")

# Removes what the command NAME wrote last time, so that the run writes new files only.
clear_outputs() {
    case $1 in
    cp | dd) rm -f "$work/$1" ;;
    demux* | rebuild* | mkv | ffmpeg) rm -rf "${work:?}/$1" && mkdir -p "$work/$1" ;;
    esac
}

# sync, then wait until the kernel holds (almost) no dirty pages and none under writeback.
settle() {
    local i dirty writeback
    for ((i = 0; i < 200; i++)); do
        sync
        read -r dirty writeback < <(awk '/^Dirty:/ { d = $2 } /^Writeback:/ { w = $2 } END { print d, w }' /proc/meminfo)
        ((dirty + writeback <= settle_kib)) && return 0
        sleep 0.1
    done
    echo "  (not settled after 20 s: Dirty $dirty kB, Writeback $writeback kB)" >&2
}

field() { sed -E "s/.* $1=([0-9.]+).*/\\1/" <<<"$2"; }
# best and median of a list of numbers
best() { printf '%s\n' "$@" | sort -g | head -1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# bench NAME COLD CMD...: best and median wall time, best CPU time, largest peak RSS.
# COLD=1 drops the page cache before each run.
declare -A wall mid cpu rss
order=()
bench() {
    local name=$1 cold=$2
    shift 2
    local n=$runs i line kib r=0
    ((cold)) && n=$cold_runs
    local -a ws=() cs=()
    for ((i = 0; i < n; i++)); do
        clear_outputs "$name"
        settle
        if ((cold)); then echo 3 >/proc/sys/vm/drop_caches; fi
        if ! "$measure" -- "$@" >/dev/null 2>"$work/stderr"; then
            echo "$name failed:" >&2
            cat "$work/stderr" >&2
            exit 1
        fi
        line=$(grep '^halyard-measure: ' "$work/stderr" | tail -1)
        ws+=("$(field wall "$line")")
        cs+=("$(awk -v u="$(field user "$line")" -v s="$(field sys "$line")" 'BEGIN { print u + s }')")
        kib=$(field maxrss_kib "$line")
        ((kib > r)) && r=$kib
    done
    wall[$name]=$(best "${ws[@]}")
    mid[$name]=$(median "${ws[@]}")
    cpu[$name]=$(best "${cs[@]}")
    rss[$name]=$r
    order+=("$name")
    printf '  %-12s wall best %7.3f s, median %7.3f s  cpu %7.3f s\n' "$name" "${wall[$name]}" "${mid[$name]}" \
        "${cpu[$name]}"
}

# The page cache as reading the file from disk leaves it: the kernel reads a file ahead in
# large folios (up to 2 MiB), while a file just written in small pieces, as the stream
# generator writes, stays cached in small ones, which are slower to copy and to map.
warm() {
    dd if="$file" iflag=nocache count=0 status=none # drops the file's pages
    cat "$file" >/dev/null
}

echo "Load average before timing: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "Timing $file ($size bytes), page cache warm, best of $runs ..."
warm
bench cat 0 cat "$file"
bench cp 0 cp "$file" "$work/cp"
# The same copy through read() and write() of 256 KiB blocks, as the demuxer reads and writes.
bench dd 0 dd if="$file" of="$work/dd" bs=256K status=none
clear_outputs cp
clear_outputs dd
bench ffmpeg 0 "${ffmpeg_copy[@]}"
bench read 0 "$cli" read --no-fast-check "$file"
bench demux 0 "$cli" demux --no-fast-check --output "$work/demux" "$file"
# demux first reads the file to find its streams (the whole file with --no-fast-check),
# then demuxes it; with a fast-check size of 0 that first read stops after one block,
# which leaves the demux pass on its own.
bench demux-f0 0 "$cli" demux --fast-size 0 --output "$work/demux-f0" "$file"
# Every stream is kept, so every pack is read, rewritten where its ids or navigation
# data change, and written.
bench rebuild 0 "$cli" rebuild --output "$work/rebuild" "$work/bench.EVO"
bench rebuild-f0 0 "$cli" rebuild --fast-size 0 --output "$work/rebuild-f0" "$work/bench.EVO"
# The trip to Matroska: the same demux with subpictures also as PGS, then mkvmerge on
# the demuxed files. The difference between the two rows is mkvmerge's share.
if [[ -n $mkvmerge ]]; then
    bench demux-pgs 0 "$cli" demux --no-fast-check --pgs --output "$work/demux-pgs" "$file"
    bench mkv 0 "$cli" mkv --no-fast-check --output "$work/mkv" "$file"
fi
if [[ -n $baseline ]]; then
    old=$baseline/halyard-cli
    echo "The same with $old ..."
    bench read@base 0 "$old" read --no-fast-check "$file"
    bench demux@base 0 "$old" demux --no-fast-check --output "$work/demux@base" "$file"
    bench demux-f0@base 0 "$old" demux --fast-size 0 --output "$work/demux-f0@base" "$file"
    bench rebuild@base 0 "$old" rebuild --output "$work/rebuild@base" "$work/bench.EVO"
    bench rebuild-f0@base 0 "$old" rebuild --fast-size 0 --output "$work/rebuild-f0@base" "$work/bench.EVO"
fi
if ((can_drop)); then
    echo "Page cache dropped before each run, best of $cold_runs ..."
    bench cat-cold 1 cat "$file"
    bench read-cold 1 "$cli" read --no-fast-check "$file"
    bench dd-cold 1 dd if="$file" of="$work/dd" bs=256K status=none
    clear_outputs dd
    bench demux-f0-cold 1 "$cli" demux --fast-size 0 --output "$work/demux-f0-cold" "$file"
    warm
fi
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
if [[ -n $baseline ]]; then
    for dir in demux demux-f0; do
        for out in "$work/$dir"/*; do
            if cmp -s "$out" "$work/$dir@base/$(basename "$out")"; then echo "  $dir $(basename "$out") = baseline"
            else echo "  MISMATCH: $dir $(basename "$out") differs from the baseline's"; fi
        done
    done
    for dir in rebuild rebuild-f0; do
        if cmp -s "$work/$dir/bench.rebuilt.EVO" "$work/$dir@base/bench.rebuilt.EVO"; then echo "  $dir = baseline"
        else echo "  MISMATCH: $dir bench.rebuilt.EVO differs from the baseline's"; fi
    done
fi
for dir in rebuild rebuild-f0; do
    if [[ $(stat -c %s "$work/$dir/bench.rebuilt.EVO") = "$size" ]]; then echo "  $dir keeps every pack"
    else echo "  MISMATCH: $dir bench.rebuilt.EVO is not $size bytes"; fi
done

echo
echo "              --------------------- wall time ----------------------   ------- CPU time -------"
printf '%-14s %7s %7s %6s %6s %6s %6s %6s  %7s %6s %6s %6s %7s\n' command best median GB/s "x cat" "x cp" "x dd" \
    "x ffm" best "x cat" "x cp" "x dd" "RSS MiB"
for name in "${order[@]}"; do
    awk -v n="$name" -v s="$size" -v kib="${rss[$name]}" -v w="${wall[$name]}" -v m="${mid[$name]}" \
        -v wcat="${wall[cat]}" -v wcp="${wall[cp]}" -v wdd="${wall[dd]}" -v wff="${wall[ffmpeg]}" \
        -v c="${cpu[$name]}" -v ccat="${cpu[cat]}" -v ccp="${cpu[cp]}" -v cdd="${cpu[dd]}" \
        'function rate(t) { return t > 0 ? s / t / 1e9 : 0 }
         function ratio(a, b) { return b > 0 ? a / b : 0 }
         BEGIN { printf "%-14s %7.3f %7.3f %6.2f %6.2f %6.2f %6.2f %6.2f  %7.3f %6.2f %6.2f %6.2f %7.1f\n",
                 n, w, m, rate(w), ratio(w, wcat), ratio(w, wcp), ratio(w, wdd), ratio(w, wff),
                 c, ratio(c, ccat), ratio(c, ccp), ratio(c, cdd), kib / 1024 }'
done
echo "(best and median of the wall times; GB/s: 1e9 bytes of the stream a second, best run;"
echo " x cat, x cp, x dd, x ffm: best time over that command's best time; CPU time = user + system;"
echo " RSS: peak resident memory over the runs; cp copies inside the kernel (copy_file_range);"
echo " dd: the copy through read() and write() of 256 KiB blocks, the floor of a demuxer that reads and writes;"
echo " demux: read pass over the whole file + demux pass; demux-f0: the demux pass after a one-block read;"
echo " rebuild: read pass (300 MiB fast check) + rebuild pass; rebuild-f0: the rebuild pass after a one-block read;"
echo " demux-pgs: demux with subpictures also as PGS; mkv: that demux, then mkvmerge, then the demuxed files removed;"
if ((can_drop)); then
    echo " -cold: page cache dropped before each run)"
else
    echo " no cold rows: /proc/sys/vm/drop_caches cannot be written here)"
fi

echo
"$pictures" "$work/ffmpeg/v.m2v"
"$pictures"

echo
"$playlist"

echo
"$subtitles"

echo
awk -v s="$size" -v r="${wall[read]}" -v rc="${cpu[read]}" -v cat="${wall[cat]}" -v catc="${cpu[cat]}" \
    -v d="${wall[demux]}" -v dc="${cpu[demux]}" -v p="${wall[demux-f0]}" -v pc="${cpu[demux-f0]}" \
    -v dd="${wall[dd]}" -v ddc="${cpu[dd]}" -v b="${wall[rebuild-f0]}" -v bc="${cpu[rebuild-f0]}" \
    -v cp="${wall[cp]}" -v cpc="${cpu[cp]}" -v m="${wall[mkv]:-0}" -v g="${wall[demux-pgs]:-0}" \
    -v rr="${rss[read]}" -v dr="${rss[demux]}" -v pr="${rss[demux-f0]}" -v br="${rss[rebuild]}" \
    -v fr="${rss[rebuild-f0]}" '
    function verdict(ok) { return ok ? "met" : "MISSED" }
    BEGIN {
        printf "Target read <= 1.2 x cat:                 wall %.2f x %s, CPU %.2f x\n", r / cat, verdict(r / cat <= 1.2),
            rc / catc
        printf "Target demux pass (demux-f0) <= 1.3 x dd: wall %.2f x %s, CPU %.2f x\n", p / dd, verdict(p / dd <= 1.3),
            pc / ddc
        printf "Target demux <= 1.3 x (dd + read):        wall %.2f x %s, CPU %.2f x\n", d / (dd + r),
            verdict(d / (dd + r) <= 1.3), dc / (ddc + rc)
        printf "Target rebuild pass (rebuild-f0) <= 1.1 x cp: wall %.2f x %s, CPU %.2f x; %.2f x dd (CPU %.2f x)\n",
            b / cp, verdict(b / cp <= 1.1), bc / cpc, b / dd, bc / ddc
        printf "Target peak RSS <= 16 MiB: read %.1f, demux %.1f, demux-f0 %.1f, rebuild %.1f, rebuild-f0 %.1f MiB %s\n",
            rr / 1024, dr / 1024, pr / 1024, br / 1024, fr / 1024,
            verdict(rr <= 16384 && dr <= 16384 && pr <= 16384 && br <= 16384 && fr <= 16384)
        if (m > 0)
            printf "The trip to Matroska: mkv %.2f s, of which mkvmerge and the clean-up %.2f s (%.0f %%)\n", m, m - g,
                100 * (m - g) / m
        print  "Target picture counter >= 4 GB/s: see the cache figures above"
        print  "Target Read XPL of 100,000 lines < 0.1 s: see the playlist figures above"
        print  "Target two hours of captions to PGS well under 1 s: see the subtitles figures above"
    }'
