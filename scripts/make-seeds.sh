#!/usr/bin/env bash
# Writes the fuzz seeds of the regression corpus, tests/corpus/<target>/seed-*, from
# the demo disc: for each analyser target the start of an elementary stream that it
# reads, behind the 17-byte header of fuzz/AnalyserFuzz.h; for the engine, the first
# packs of each feature file and a few damaged packets; for Rebuild, the first packs
# of the feature files, whole, shifted and joined. Run by hand after a release
# build (the seeds follow the ffmpeg build that codes the demo disc); inputs that made
# a target fail are kept beside the seeds under other names and never rewritten here.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target halyard-cli halyard-demo >/dev/null
corpus=tests/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build/demo/halyard-demo "$work/disc" >/dev/null
for n in 1 2; do
  mkdir -p "$work/out$n"
  build/halyard-cli demux --no-continue --output "$work/out$n" "$work/disc/HVDVD_TS/FEATURE_$n.EVO" >/dev/null
done
es() { echo "$work/out$1/FEATURE_$1.$2"; }

be32() { printf "\\x$(printf %02x $(($1 >> 24 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 & 255)))"; }
# seed TARGET NAME CONTROL START BYTES FILE [PREFIX-BYTES]: header, prefix, the first
# BYTES of FILE; the payload starts at START and runs to the end of the block.
seed() {
  local target=$1 name=$2 control=$3 start=$4 bytes=$5 file=$6 prefix=${7:-}
  mkdir -p "$corpus/$target"
  {
    printf "\\x$(printf %02x "$control")"
    be32 "$start"; be32 4294967295 # start, length: all the rest
    be32 90000; be32 86400         # first PTS, DTS
    printf "%b" "$prefix"
    head -c "$bytes" "$file"
  } >"$corpus/$target/seed-$name"
}

seed fuzz_dolby_digital ac3 0 0 6144 "$(es 1 DD.stream.00.mpa)"
seed fuzz_dolby_digital eac3 1 0 6144 "$(es 1 DD+.stream.01.mpa)"
seed fuzz_dts dts 0 0 6144 "$(es 1 DTSHD.stream.02.mpa)"
seed fuzz_mlp truehd 0 0 6144 "$(es 1 MLP.stream.03.mpa)"
seed fuzz_lpcm lpcm 0 3 6144 "$(es 1 LPCM.stream.04.mpa)" '\x00\x01\x80' # 16 bit, 48 kHz, 2 channels
seed fuzz_mpeg2_video mpeg2 0 0 16384 "$(es 1 MPEG-2.stream.0.mpv)"
seed fuzz_h264 h264 1 0 16384 "$(es 1 H.264.stream.1.mpv)"
seed fuzz_vc1 vc1 1 0 16384 "$(es 2 VC-1.stream.1.mpv)"
seed fuzz_picture_counter mpeg2 0 0 16384 "$(es 1 MPEG-2.stream.0.mpv)"
seed fuzz_picture_counter h264 3 0 16384 "$(es 1 H.264.stream.1.mpv)"
seed fuzz_picture_counter vc1 5 0 16384 "$(es 2 VC-1.stream.1.mpv)"
seed fuzz_picture_counter subpicture 0 10 2048 "$(es 1 Subpicture.00.sup)" # after the "SP" record header

# The engine: a control byte (fuzz/FuzzDemux.cpp; 0 reads an .EVO, 1 demuxes it), then the source.
mkdir -p "$corpus/fuzz_demux"
{ printf '\x00'; head -c 32768 "$work/disc/HVDVD_TS/FEATURE_1.EVO"; } >"$corpus/fuzz_demux/seed-feature1-read"
{ printf '\x01'; head -c 32768 "$work/disc/HVDVD_TS/FEATURE_2.EVO"; } >"$corpus/fuzz_demux/seed-feature2-demux"
pack='\x00\x00\x01\xba\x44\x00\x04\x00\x04\x01\x01\x89\xc3\xf8'
# A PES header that claims a 5-byte PTS in a packet of 4 bytes, then a whole packet.
printf "\\x01$pack"'\x00\x00\x01\xe0\x00\x04\x80\x80\x05\x21\x00\x01\x00\x01\xff\xff\x00\x00\x01\xe0\x00\x08\x80\x00\x00\xaa\xbb\xcc\xdd\xee' \
  >"$corpus/fuzz_demux/seed-header-longer-than-packet"
# A padding packet whose length runs past the end of the file.
printf "\\x00$pack"'\x00\x00\x01\xbe\xff\xff\x00\x00\x01\xe0' >"$corpus/fuzz_demux/seed-skip-past-the-end"
# A private stream 1 packet that ends inside its substream header, then an audio packet.
printf "\\x01$pack"'\x00\x00\x01\xbd\x00\x05\x80\x00\x00\x80\x01\x00\x00\x01\xbd\x00\x0b\x81\x80\x05\x21\x00\x01\x00\x01\x80\x01\x00\x01\x0b\x77' \
  >"$corpus/fuzz_demux/seed-substream-header-cut-short"
# The fast path against the byte machine: the engine's seeds, and the feature files
# meeting a block boundary inside a pack header and inside a PES header (control bit 5,
# then the number of source bytes in the first block, big-endian).
mkdir -p "$corpus/fuzz_fast_path"
cp "$corpus"/fuzz_demux/seed-* "$corpus/fuzz_fast_path/"
{ printf '\x20\x28\x07'; head -c 32768 "$work/disc/HVDVD_TS/FEATURE_1.EVO"; } >"$corpus/fuzz_fast_path/seed-feature1-read-split-pack-header"
{ printf '\x21\x18\x14'; head -c 32768 "$work/disc/HVDVD_TS/FEATURE_2.EVO"; } >"$corpus/fuzz_fast_path/seed-feature2-demux-split-pes-header"
# Rebuild: a control byte (fuzz/FuzzRebuild.cpp: bits 0-3 untick the video, even audio,
# odd audio and subpicture boxes, bit 4 joins the two halves of the input as two feature
# files, bit 5 reads with details), then the source: the first VOBUs of a feature file,
# whole and behind a stray byte, and, joined without video, its first 16 packs and 16
# packs from its 25th on, where the audio streams begin.
mkdir -p "$corpus/fuzz_rebuild"
packs() { dd if="$work/disc/HVDVD_TS/FEATURE_$1.EVO" bs=2048 skip="$2" count="$3" status=none; }
{ printf '\x00'; packs 1 0 32; } >"$corpus/fuzz_rebuild/seed-feature1"
{ printf '\x02X'; packs 1 0 32; } >"$corpus/fuzz_rebuild/seed-feature1-stray-byte"
{ printf '\x11'; packs 1 0 16; packs 1 24 16; } >"$corpus/fuzz_rebuild/seed-joined"
# The playlist reader: a control byte (fuzz/FuzzPlaylist.cpp: the source name looked for
# and the split point), then the demo disc's playlist or a test playlist.
mkdir -p "$corpus/fuzz_playlist"
for file in "$work/disc/ADV_OBJ/VPLST000.XPL" tests/playlists/*.XPL; do
  for control in 0 1; do
    { printf "\\$(printf %03o "$control")"; cat "$file"; } \
      >"$corpus/fuzz_playlist/seed-$(basename "$file" .XPL | tr '[:upper:]' '[:lower:]')-$control"
  done
done
ls -l "$corpus"/*/seed-* | awk '{ print $5, $9 }'
