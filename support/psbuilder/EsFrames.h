// Cut raw elementary streams (as ffmpeg writes them) into access units with
// time stamps, ready for the muxer.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "PsMuxer.h"

namespace psb::es {

// MPEG-2 video: one unit per picture; sequence, extension and GOP headers go
// with the picture that follows them. PTS from the GOP's display order
// (temporal_reference); with B pictures the DTS is one frame behind the
// decode order. A unit holding a sequence header is a keyframe.
std::vector<AccessUnit> splitMpeg2Video(const Bytes& es, uint64_t firstPts, uint64_t frameDuration);

// H.264 Annex B: one unit per access unit delimiter (NAL type 9), or, without
// delimiters, per SPS or first slice of a picture. Pictures are taken in
// display order (no B-frame reordering: PTS = DTS). IDR units are keyframes.
std::vector<AccessUnit> splitH264(const Bytes& es, uint64_t firstPts, uint64_t frameDuration);

// VC-1 advanced profile: one unit per frame start code 0x0D; sequence
// header and entry point go with the frame that follows them (keyframe).
std::vector<AccessUnit> splitVc1(const Bytes& es, uint64_t firstPts, uint64_t frameDuration);

// AC-3 (bsid <= 10) and E-AC-3 (bsid 11-16) frames by syncword 0x0B77;
// dependent E-AC-3 substreams stay with their independent frame.
std::vector<AccessUnit> splitAc3(const Bytes& es, uint64_t firstPts);

// DTS core frames by sync 0x7FFE8001 (16-bit big-endian), size from FSIZE.
std::vector<AccessUnit> splitDts(const Bytes& es, uint64_t firstPts);

// TrueHD/MLP access units by access_unit_length; the sampling rate comes
// from the major sync (0xF8726FBA / 0xF8726FBB).
std::vector<AccessUnit> splitTrueHd(const Bytes& es, uint64_t firstPts);

// 16-bit big-endian interleaved PCM into DVD LPCM frames of 1/600 s.
std::vector<AccessUnit> splitLpcm(const Bytes& pcm, int channels, uint32_t sampleRate, uint64_t firstPts);

// LPCM header bytes 5-7 for 16-bit samples:
//   emphasis(1) mute(1) reserved(1) frame_number(5)
//   quantization(2) sampling(2) reserved(1) channels-1(3)
//   dynamic_range_control(8), 0x80 = off
std::array<uint8_t, 3> lpcmHeader16(uint32_t sampleRate, int channels);

// Size of an AC-3 frame in bytes, 0 for an invalid code.
std::size_t ac3FrameSize(uint8_t fscod, uint8_t frmsizecod);

// Shifts every time stamp of `units` by `delta` ticks (may be negative).
void shiftTimes(std::vector<AccessUnit>& units, int64_t delta);

}  // namespace psb::es
