// Builders for MPEG-2 program stream pieces (ISO/IEC 13818-1) as found on
// DVD-Video, DVD-Audio and HD DVD discs: pack headers, system headers, PES
// packets with the private-stream-1 substream headers of the disc formats,
// padding, program stream maps and navigation packs.
//
// Every builder produces exact bytes; nothing is validated beyond what is
// needed to lay the fields out, so tests can build damaged input on purpose
// (see Pes::packetLength).
//
//   auto packet = psb::Pes(psb::sid::kPrivateStream1)
//                     .substream(0x80).pts(90000).payload(ac3Frame).build();
//   auto pack = psb::Pack().scr(1000).add(packet).build();   // 2048 bytes
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BitWriter.h"

namespace psb {

inline constexpr std::size_t kPackSize = 2048;
inline constexpr std::size_t kBlockSize = 262144;  // the reader's block: 128 packs
inline constexpr std::size_t kPackHeaderSize = 14;  // MPEG-2 pack header without stuffing
inline constexpr std::size_t kPacketPrefixSize = 6;  // start code (4) + PES_packet_length (2)
inline constexpr std::size_t kMaxPacketLength = 0xFFFF;
inline constexpr uint64_t kTimestampMask = (uint64_t{1} << 33) - 1;
inline constexpr uint32_t kDvdMuxRate = 25200;    // 10.08 Mbit/s in units of 50 bytes/s
inline constexpr uint32_t kHdDvdMuxRate = 75600;  // 30.24 Mbit/s

// Stream ids (the byte after 00 00 01).
namespace sid {
inline constexpr uint8_t kPackStart = 0xBA;
inline constexpr uint8_t kSystemHeader = 0xBB;
inline constexpr uint8_t kProgramStreamMap = 0xBC;
inline constexpr uint8_t kPrivateStream1 = 0xBD;
inline constexpr uint8_t kPadding = 0xBE;
inline constexpr uint8_t kPrivateStream2 = 0xBF;
inline constexpr uint8_t kMpegAudio = 0xC0;
inline constexpr uint8_t kVideo = 0xE0;           // 0xE0, 0xE1: MPEG-2 on disc
inline constexpr uint8_t kVideoH264 = 0xE2;       // 0xE2, 0xE3: H.264 on HD DVD
inline constexpr uint8_t kExtendedStreamId = 0xFD;
inline constexpr uint8_t kAllAudio = 0xB8;        // system header wildcard entries
inline constexpr uint8_t kAllVideo = 0xB9;
}  // namespace sid

// Stream id extensions carried in PES extension 2 of stream 0xFD.
namespace sidext {
inline constexpr uint8_t kVc1Primary = 0x55;
inline constexpr uint8_t kVc1Secondary = 0x56;
}  // namespace sidext

// Private-stream-2 substream ids of a navigation pack.
namespace navsub {
inline constexpr uint8_t kPci = 0x00;
inline constexpr uint8_t kDsi = 0x01;
}  // namespace navsub

// PSM stream_type values used on discs.
namespace stype {
inline constexpr uint8_t kMpeg2Video = 0x02;
inline constexpr uint8_t kH264 = 0x1B;
inline constexpr uint8_t kVc1 = 0xEA;
inline constexpr uint8_t kAc3 = 0x81;
inline constexpr uint8_t kPrivateData = 0x06;
}  // namespace stype

// The families of private-stream-1 substream ids and the size of the header
// that precedes their payload (substream id included).
enum class SubstreamFamily {
    Subpicture,          // 0x20-0x3F: 1 byte
    ExtendedSubpicture,  // 0x60-0x7F: 1 byte
    Ac3,                 // 0x80-0x87: id, frame count, first access unit pointer (16)
    Dts,                 // 0x88-0x8F: same 4 bytes
    Lpcm,                // 0xA0-0xA7: the 4 bytes + 3 LPCM header bytes
    TrueHd,              // 0xB0-0xB7: the 4 bytes + 1 byte
    Eac3,                // 0xC0-0xCF: the same 4 bytes as AC-3
    Unknown,             // anything else: written with the 4-byte audio layout
};
SubstreamFamily substreamFamily(uint8_t substreamId);
std::size_t substreamHeaderSize(uint8_t substreamId);
// Header bytes between the first-access-unit pointer and the payload (3 LPCM, 1 TrueHD).
std::size_t substreamExtraBytes(uint8_t substreamId);

// 5-byte PTS/DTS field:
//   prefix(4) ts[32..30](3) marker(1) | ts[29..15](15) marker(1) | ts[14..0](15) marker(1)
// prefix 0010 = PTS alone, 0011 = PTS of a PTS+DTS pair, 0001 = the DTS.
Bytes encodeTimestamp(uint8_t prefix, uint64_t ts);
inline constexpr uint8_t kPtsOnlyPrefix = 0x2;
inline constexpr uint8_t kPtsWithDtsPrefix = 0x3;
inline constexpr uint8_t kDtsPrefix = 0x1;

// CRC-32 of MPEG-2 sections: polynomial 0x04C11DB7, initial value 0xFFFFFFFF,
// no reflection, no final xor. A section with its CRC appended checks to 0.
uint32_t crc32Mpeg2(const uint8_t* data, std::size_t size);

void putBe16(Bytes& out, std::size_t offset, uint16_t value);
void putBe32(Bytes& out, std::size_t offset, uint32_t value);
uint16_t readBe16(const Bytes& in, std::size_t offset);
uint32_t readBe32(const Bytes& in, std::size_t offset);

// MPEG-2 pack header, 14 bytes + stuffing:
//   00 00 01 BA
//   '01' SCR[32..30] marker SCR[29..15] marker SCR[14..0] marker SCR_ext(9) marker
//   program_mux_rate(22) marker marker
//   reserved(5) pack_stuffing_length(3), then stuffing bytes 0xFF
class PackHeader {
public:
    // System clock reference: base in 90 kHz units, extension in 27 MHz units (0-299).
    PackHeader& scr(uint64_t base, uint16_t extension = 0);
    // Sets the SCR from a 27 MHz clock value.
    PackHeader& scr27MHz(uint64_t clock);
    PackHeader& muxRate(uint32_t unitsOf50BytesPerSecond);
    PackHeader& stuffing(uint8_t count);  // 0-7

    uint64_t scrBase() const { return scrBase_; }
    uint8_t stuffingCount() const { return stuffing_; }
    std::size_t size() const { return kPackHeaderSize + stuffing_; }
    Bytes build() const;

private:
    uint64_t scrBase_ = 0;
    uint16_t scrExtension_ = 0;
    uint32_t muxRate_ = kDvdMuxRate;
    uint8_t stuffing_ = 0;
};

// System header:
//   00 00 01 BB header_length(16)
//   marker rate_bound(22) marker
//   audio_bound(6) fixed_flag CSPS_flag
//   system_audio_lock_flag system_video_lock_flag marker video_bound(5)
//   packet_rate_restriction_flag reserved(7)
//   per stream: stream_id(8) '11' P-STD_buffer_bound_scale(1) P-STD_buffer_size_bound(13)
class SystemHeader {
public:
    struct StreamBound {
        uint8_t streamId;
        bool scale;          // 0: units of 128 bytes, 1: units of 1024 bytes
        uint16_t sizeBound;  // 13 bits
    };

    SystemHeader& rateBound(uint32_t value);
    SystemHeader& audioBound(uint8_t value);  // 6 bits
    SystemHeader& videoBound(uint8_t value);  // 5 bits
    SystemHeader& fixedFlag(bool value);
    SystemHeader& cspsFlag(bool value);
    SystemHeader& audioLock(bool value);
    SystemHeader& videoLock(bool value);
    SystemHeader& packetRateRestriction(bool value);
    SystemHeader& addStream(uint8_t streamId, bool scale, uint16_t sizeBound);
    SystemHeader& clearStreams();

    // The header of a DVD navigation pack: 24 bytes with the entries
    // B9 (all video), B8 (all audio), BD and BF:
    //   00 00 01 BB 00 12 80 C4 E1 04 E1 FF B9 E0 E8 B8 C0 20 BD E0 3A BF E0 02
    static SystemHeader dvd(uint8_t audioBound = 1, uint8_t videoBound = 1);

    std::size_t size() const { return 12 + 3 * streams_.size(); }
    Bytes build() const;

private:
    uint32_t rateBound_ = kDvdMuxRate;
    uint8_t audioBound_ = 1;
    uint8_t videoBound_ = 1;
    bool fixed_ = false;
    bool csps_ = true;
    bool audioLock_ = true;
    bool videoLock_ = true;
    bool packetRateRestriction_ = false;
    std::vector<StreamBound> streams_;
};

// A PES packet, with the MPEG-2 PES header:
//   00 00 01 stream_id PES_packet_length(16)
//   '10' scrambling(2) priority data_alignment copyright original
//   PTS_DTS_flags(2) ESCR ES_rate trick_mode additional_copy CRC PES_extension_flag
//   PES_header_data_length(8)
//   [PTS (5)] [DTS (5)]
//   [PES extension: private_data pack_header sequence_counter P-STD '111' extension_2
//       [P-STD: '01' scale(1) size(13)]
//       [extension 2: marker field_length(7), '0' stream_id_extension(7)]]
//   stuffing 0xFF ...
// then, for private stream 1 with a substream id, the disc substream header,
// then the payload.
class Pes {
public:
    explicit Pes(uint8_t streamId = sid::kVideo);

    Pes& streamId(uint8_t id);
    Pes& pts(uint64_t value);
    Pes& dts(uint64_t value);
    // PES extension with the P-STD buffer field.
    Pes& pstd(bool scale, uint16_t size);
    // PES extension 2 carrying the stream id extension (e.g. 0x55 for VC-1 in 0xFD).
    Pes& streamIdExtension(uint8_t ext);
    // A PES extension flag byte with neither P-STD nor extension 2 (flags 0x0E).
    Pes& emptyExtension();
    Pes& stuffing(std::size_t count);  // 0xFF bytes at the end of the PES header
    Pes& dataAlignment(bool value);

    // Private stream 1 substream header. The family of the id decides its size.
    Pes& substream(uint8_t id);
    Pes& frameCount(uint8_t count);              // default 1
    Pes& firstAccessUnit(uint16_t pointer);      // default: the payload's first byte
    // LPCM header bytes 5-7: emphasis/mute/frame number, quantization/
    // sampling/channels, dynamic range control. Default 00 01 80: 16 bits,
    // 48 kHz, 2 channels, dynamic range off.
    Pes& lpcmHeader(uint8_t b5, uint8_t b6, uint8_t b7);
    Pes& trueHdHeaderByte(uint8_t value);       // default 0

    Pes& payload(Bytes data);
    Pes& payload(const uint8_t* data, std::size_t size);
    // Writes this value into PES_packet_length whatever the real length is.
    Pes& packetLength(uint16_t value);

    uint8_t id() const { return streamId_; }
    std::optional<uint8_t> substreamId() const { return substream_; }
    // Bytes in front of the payload: prefix, PES header and substream header.
    std::size_t headerSize() const;
    std::size_t size() const { return headerSize() + payload_.size(); }
    // The largest payload that keeps the whole packet within `packetSize` bytes.
    std::size_t payloadRoom(std::size_t packetSize) const;
    Bytes build() const;

private:
    std::size_t pesHeaderDataLength() const;
    bool hasExtension() const { return pstd_ || extension_ || emptyExtension_; }
    void appendOptionalFields(Bytes& out) const;
    void appendSubstreamHeader(Bytes& out) const;

    uint8_t streamId_;
    std::optional<uint64_t> pts_;
    std::optional<uint64_t> dts_;
    std::optional<std::pair<bool, uint16_t>> pstd_;
    std::optional<uint8_t> extension_;
    bool emptyExtension_ = false;
    bool dataAlignment_ = false;
    std::size_t stuffing_ = 0;
    std::optional<uint8_t> substream_;
    uint8_t frameCount_ = 1;
    std::optional<uint16_t> firstAccessUnit_;
    std::array<uint8_t, 3> lpcmHeader_{0x00, 0x01, 0x80};
    uint8_t trueHdByte_ = 0;
    Bytes payload_;
    std::optional<uint16_t> packetLength_;
};

// A padding stream packet of exactly `totalSize` bytes (at least 6).
Bytes paddingPacket(std::size_t totalSize, uint8_t fill = 0xFF);
// A packet without PES header: 00 00 01 id length body (private stream 2, padding).
Bytes rawPacket(uint8_t streamId, const Bytes& body);

// Program stream map (stream id 0xBC):
//   00 00 01 BC program_stream_map_length(16)
//   current_next_indicator(1) reserved(2) version(5) | reserved(7) marker(1)
//   program_stream_info_length(16) descriptors
//   elementary_stream_map_length(16)
//   per stream: stream_type(8) elementary_stream_id(8) ES_info_length(16) descriptors
//   CRC_32
class ProgramStreamMap {
public:
    ProgramStreamMap& version(uint8_t value);  // 5 bits
    ProgramStreamMap& addStream(uint8_t streamType, uint8_t streamId, Bytes descriptors = {});
    Bytes build() const;

private:
    struct Entry {
        uint8_t type;
        uint8_t id;
        Bytes descriptors;
    };
    uint8_t version_ = 0;
    std::vector<Entry> entries_;
};

// Where the navigation data fields go.
enum class NavLayout {
    Both,  // the DVD-Video offsets, then the HD DVD / DVD-Audio offsets
    Vob,   // DVD-Video offsets only
    Evo,   // HD DVD / DVD-Audio offsets only
    // HD DVD offsets in the HD DVD navigation pack, whose DSI packet is 0x2F3
    // long and so starts at byte 1287: 00 00 01 BF 02 F3 01 ...
    HdDvd,
};

// Offsets in the DSI data, counted from the first byte after the DSI substream id.
namespace dsi {
inline constexpr std::size_t kNavPackScr = 0;      // nv_pck_scr (32)
inline constexpr std::size_t kNavPackLbn = 4;      // nv_pck_lbn (32)
inline constexpr std::size_t kVobuEndAddress = 8;  // vobu_ea (32), relative
inline constexpr std::size_t kVobNumber = 24;      // vobu_vob_idn (16)
inline constexpr std::size_t kCellNumber = 27;     // vobu_c_idn (8)
inline constexpr std::size_t kStartPtm = 44;       // vob_v_s_ptm (32)
inline constexpr std::size_t kEndPtm = 48;         // vob_v_e_ptm (32)
inline constexpr std::size_t kAudioSyncVob = 402;        // 8 x 16 bits
inline constexpr std::size_t kSubpictureSyncVob = 418;   // 32 x 32 bits
inline constexpr std::size_t kAudioSyncEvo = 530;        // 8 x 16 bits
inline constexpr std::size_t kSubpictureSyncEvo = 546;   // 32 x 32 bits
inline constexpr std::size_t kAudioSyncCount = 8;
inline constexpr std::size_t kSubpictureSyncCount = 32;
inline constexpr std::size_t kDataSize = 1017;     // DSI packet length 0x3FA minus the substream id
inline constexpr std::size_t kHdDvdDataSize = 754;  // HD DVD DSI packet length 0x2F3 minus the substream id
}  // namespace dsi

// Offsets in the PCI data, counted from the first byte after the PCI substream id.
namespace pci {
inline constexpr std::size_t kNavPackLbn = 0;    // nv_pck_lbn (32)
inline constexpr std::size_t kVobuStartPtm = 12;  // vobu_s_ptm (32)
inline constexpr std::size_t kVobuEndPtm = 16;    // vobu_e_ptm (32)
}  // namespace pci

// A navigation pack of exactly 2048 bytes: pack header, system header
// (optional), PCI packet (0xBF, substream 0x00) and DSI packet (0xBF,
// substream 0x01). The DSI packet always has length 0x3FA and ends the pack;
// the PCI packet takes what is left (0x3D4 with the 24-byte DVD system header).
//
// With NavLayout::Both the HD DVD fields are written after the DVD fields.
// The HD DVD audio entries (530-545) lie on the last four DVD subpicture
// entries (418 + 4 * 28 ...), so a DVD reading of a Both pack with audio sync
// entries sees up to four extra subpicture entries; use NavLayout::Vob where
// the DVD reading matters.
class NavPack {
public:
    NavPack();

    NavPack& header(PackHeader value);
    NavPack& scr(uint64_t base, uint16_t extension = 0);
    NavPack& systemHeader(std::optional<SystemHeader> value);
    NavPack& layout(NavLayout value);
    NavPack& vobNumber(uint16_t value);
    NavPack& cellNumber(uint8_t value);
    NavPack& startPtm(uint32_t value);  // start presentation time of the video object
    NavPack& endPtm(uint32_t value);    // end presentation time of the video object
    NavPack& vobuStartPtm(uint32_t value);
    NavPack& vobuEndPtm(uint32_t value);
    NavPack& packNumber(uint32_t lbn);          // this pack's number in the file
    NavPack& vobuEndAddress(uint32_t packs);    // last pack of the VOBU, relative
    NavPack& audioSync(std::size_t index, uint16_t value);        // index 0-7
    NavPack& subpictureSync(std::size_t index, uint32_t value);   // index 0-31

    // Offset within the pack of the first byte after the DSI substream id.
    std::size_t dsiDataOffset() const;
    std::size_t pciDataOffset() const;
    // Bytes of DSI data after the substream id: 1017, or 754 in the HD DVD layout.
    std::size_t dsiDataSize() const;
    Bytes build() const;

private:
    void writeSyncTable(Bytes& data, std::size_t audioAt, std::size_t subpictureAt) const;

    PackHeader header_;
    std::optional<SystemHeader> systemHeader_;
    NavLayout layout_ = NavLayout::Both;
    uint16_t vobNumber_ = 1;
    uint8_t cellNumber_ = 1;
    uint32_t startPtm_ = 0;
    uint32_t endPtm_ = 0;
    uint32_t vobuStartPtm_ = 0;
    uint32_t vobuEndPtm_ = 0;
    uint32_t packNumber_ = 0;
    uint32_t vobuEndAddress_ = 0;
    std::array<uint16_t, dsi::kAudioSyncCount> audioSync_{};
    std::array<uint32_t, dsi::kSubpictureSyncCount> subpictureSync_{};
};

// One 2048-byte pack: a pack header followed by packets. build() fills the
// rest with a padding packet; a gap of 1-5 bytes, too small for a padding
// packet, goes into the pack header as stuffing instead.
class Pack {
public:
    Pack& header(PackHeader value);
    Pack& scr(uint64_t base, uint16_t extension = 0);
    Pack& add(Bytes packet);
    // Without fill the pack is as long as its content (an unaligned pack).
    Pack& fill(bool value);

    std::size_t contentSize() const;
    // Room left for packets after the header and the packets added so far.
    std::size_t room() const;
    Bytes build() const;

private:
    PackHeader header_;
    std::vector<Bytes> packets_;
    bool fill_ = true;
};

// A byte stream whose offsets the caller controls: packs, unaligned packets,
// padding up to an offset, payloads laid across the reader's block boundary.
class PsStream {
public:
    std::size_t size() const { return data_.size(); }
    const Bytes& bytes() const { return data_; }
    Bytes take() { return std::move(data_); }

    PsStream& append(const Bytes& data);
    // Fills up to `offset` with padding packets (zero bytes where fewer than
    // six remain). Throws if the stream is already longer.
    PsStream& padTo(std::size_t offset);
    // Fills up to `offset` (a multiple of 2048) with packs holding only padding.
    PsStream& padPacksTo(std::size_t offset, uint64_t scrBase = 0);
    // Pads, then appends `pes` so that exactly `payloadBytesBefore` bytes of
    // its payload lie before `boundary` (e.g. kBlockSize) and the rest after it.
    PsStream& appendAcross(const Pes& pes, std::size_t boundary, std::size_t payloadBytesBefore);

    void writeFile(const std::string& path) const;

private:
    Bytes data_;
};

void writeFile(const std::string& path, const Bytes& data);
Bytes readFile(const std::string& path);

}  // namespace psb
