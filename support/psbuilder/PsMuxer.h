// Lays elementary streams out as a disc program stream: 2048-byte packs at
// 2048-byte offsets, each holding a pack header, one PES packet and a padding
// packet where the packet does not fill the pack; a navigation pack opens
// every video object unit (VOBU).
//
//   std::vector<psb::ElementaryStream> streams = {
//       psb::ElementaryStream::video(0xE0, pictures),
//       psb::ElementaryStream::audio(0x80, ac3Frames),
//       psb::ElementaryStream::subpicture(0x20, {spu}),
//   };
//   psb::Bytes vob = psb::muxProgramStream(streams, psb::MuxOptions{});
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "PsBuilder.h"

namespace psb {

inline constexpr uint64_t kClock = 90000;  // PTS/DTS ticks per second

enum class StreamKind { Video, Audio, Subpicture, Other };

// One access unit: a coded picture, an audio frame or a subpicture unit.
struct AccessUnit {
    Bytes data;
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;  // set only where it differs from the PTS
    bool keyframe = false;        // video: a VOBU may begin with this unit
    uint64_t duration = 0;        // presentation duration in 90 kHz ticks
};

struct ElementaryStream {
    StreamKind kind = StreamKind::Video;
    uint8_t streamId = sid::kVideo;
    std::optional<uint8_t> substreamId;        // private stream 1
    std::optional<uint8_t> streamIdExtension;  // stream 0xFD
    std::array<uint8_t, 3> lpcmHeader{0x00, 0x01, 0x80};  // LPCM header bytes 5-7
    uint8_t trueHdHeaderByte = 0;
    // Payload bytes of a packet are a multiple of this (LPCM sample groups),
    // except for the stream's last packet.
    std::size_t granule = 1;
    // Each unit starts a new packet (subpicture units).
    bool unitPerPacket = false;
    // P-STD buffer field in the stream's first packet: scale, size.
    std::optional<std::pair<bool, uint16_t>> firstPacketPstd;
    std::vector<AccessUnit> units;

    // 0xE0/0xE1 MPEG-2 or 0xE2/0xE3 H.264.
    static ElementaryStream video(uint8_t streamId, std::vector<AccessUnit> units);
    // VC-1 in stream 0xFD with stream id extension 0x55 or 0x56.
    static ElementaryStream vc1(uint8_t extension, std::vector<AccessUnit> units);
    // Private-stream-1 audio (AC-3, DTS, LPCM, TrueHD, E-AC-3 by substream id).
    static ElementaryStream audio(uint8_t substreamId, std::vector<AccessUnit> units);
    // Private-stream-1 subpicture (0x20-0x3F, 0x60-0x7F); one unit per SPU.
    static ElementaryStream subpicture(uint8_t substreamId, std::vector<AccessUnit> units);

    // The time that orders this unit in the multiplex (DTS, else PTS, else 0).
    static uint64_t decodeTime(const AccessUnit& unit);
};

struct MuxOptions {
    NavLayout navLayout = NavLayout::Both;
    bool navPacks = true;
    // A new VOBU starts at the first video keyframe at least this long after
    // the start of the current one (at any unit start when there is no video).
    double vobuSeconds = 0.5;
    uint16_t vobNumber = 1;
    uint8_t cellNumber = 1;
    // Start and end presentation time of the video object; by default the
    // first PTS and the end of the last unit of the first video stream (of
    // all streams when there is no video).
    std::optional<uint32_t> startPtm;
    std::optional<uint32_t> endPtm;
    uint32_t muxRate = kDvdMuxRate;
    // Default: the DVD system header with audio and video bounds counted from the streams.
    std::optional<SystemHeader> systemHeader;
    // Sync entry k of the DSI stands for the stream whose substream id ends in k (audio
    // 0x80 + k, 0xC0 + k ..., subpicture 0x20 + k), as on a disc, instead of the k-th
    // audio or subpicture stream of the list.
    bool syncEntryPerStreamNumber = false;
    // Sent in a pack of its own after the first navigation pack.
    std::optional<ProgramStreamMap> programStreamMap;
    // How far the SCR of a pack runs ahead of the decode time of its data.
    uint64_t scrLead = kClock / 2;
};

// Cuts one elementary stream into PES packets that fill packs: a PTS (and a
// DTS where it differs) on each packet in which an access unit begins, the
// frame count and first access unit pointer of the disc audio substreams.
class Packetizer {
public:
    explicit Packetizer(ElementaryStream stream);

    const ElementaryStream& stream() const { return stream_; }
    bool done() const { return cursor_ >= total_; }
    // Decode time of the unit holding the next byte to send.
    uint64_t nextTime() const;
    // The next byte is the first byte of a unit.
    bool atUnitStart() const;
    bool atKeyframe() const;
    // The next packet, at most `room` bytes long (prefix included, at least
    // 64); it fills `room` exactly unless the stream ends or a unit boundary
    // needs a new packet: the next unit when no unit begins in this packet
    // (so that the unit's packet carries its time stamps), a keyframe, or
    // the next unit with unitPerPacket. Indexes of the units that begin in it go to `begun`.
    Pes next(std::size_t room, std::vector<std::size_t>* begun = nullptr);

private:
    std::size_t unitAt(std::size_t offset) const;  // unit holding byte `offset`
    // First unit beginning at or after `offset`, or units.size().
    std::size_t unitStartingFrom(std::size_t offset) const;
    Pes basePacket() const;

    ElementaryStream stream_;
    std::vector<std::size_t> starts_;  // byte offset of each unit
    std::vector<std::size_t> keyframeStarts_;
    Bytes data_;
    std::size_t total_ = 0;
    std::size_t cursor_ = 0;
    bool firstPacket_ = true;
};

// Interleaves whole elementary streams in decode-time order into packs, with a
// navigation pack at the start of each VOBU whose DSI carries the VOB number,
// the start and end PTM, the VOBU end address and one non-zero sync entry per
// audio stream (first 8) and subpicture stream (first 32), in the order of the list or
// by stream number (MuxOptions::syncEntryPerStreamNumber): the offset in packs
// of the stream's first pack in the VOBU, or 0x3FFF / 0x3FFFFFFF when the
// VOBU holds none of it.
Bytes muxProgramStream(const std::vector<ElementaryStream>& streams, const MuxOptions& options = {});

// One pack with a single PES packet, padded to 2048 bytes.
Bytes packWith(const Pes& pes, uint64_t scrBase = 0, uint32_t muxRate = kDvdMuxRate);

}  // namespace psb
