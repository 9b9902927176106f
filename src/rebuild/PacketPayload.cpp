#include "rebuild/PacketPayload.h"

#include "engine/StreamIds.h"

namespace halyard {

namespace {
constexpr size_t PackHeaderSize = 14;
constexpr size_t PackStuffingByte = 13;

// Offsets from a packet's start code.
constexpr size_t StreamIdAt = 3;
constexpr size_t PesFlagsAt = 7;
constexpr size_t HeaderLengthAt = 8;
constexpr size_t OptionalFieldsAt = 9;

constexpr uint8_t PrivateStream1 = 0xBD;
constexpr uint8_t ExtendedStreamId = 0xFD;

// PES extension flags: P-STD buffer (2 bytes follow) and extension 2 (field length,
// stream id extension).
constexpr uint8_t PstdFlag = 0x10;
constexpr uint8_t Extension2Flag = 0x01;

bool isVideoStreamId(uint8_t id) { return id >= 0xE0 && id <= 0xE3; }

// Header bytes between the private stream 1 substream id and the payload.
size_t audioHeaderAfterId(uint8_t substream) {
    switch (substream & 0xF8) {
    case 0xA0: return 3 + 3; // frame count, first access unit pointer, then the LPCM header
    case 0xB0: return 3 + 1; // and the TrueHD byte
    default: return 3;
    }
}
} // namespace

size_t FirstPacketOf(const uint8_t* pack) { return PackHeaderSize + (pack[PackStuffingByte] & 0x07); }

// The engine takes the PES extension flags right after the time stamps (for video) or
// as the first optional field (any packet without time stamps); it does not step over
// ESCR, ES rate and the other optional fields, nor over the extension's private data,
// pack header and sequence counter. Where its reading and the header's length disagree
// it gives nothing on.
std::optional<PacketPayload> PayloadOfPacket(const uint8_t* pack, size_t at, size_t end) {
    const uint8_t streamId = pack[at + StreamIdAt];
    const bool video = isVideoStreamId(streamId) || streamId == ExtendedStreamId;
    if (!video && streamId != PrivateStream1)
        return std::nullopt;
    if (at + OptionalFieldsAt > end)
        return std::nullopt;
    const uint8_t flags = pack[at + PesFlagsAt];
    size_t field = at + OptionalFieldsAt;
    const size_t headerEnd = field + pack[at + HeaderLengthAt];
    if (headerEnd > end)
        return std::nullopt;

    std::optional<size_t> extensionFlags;
    const size_t timeStamps = (flags & 0xC0) == 0x80 ? 5 : (flags & 0xC0) == 0xC0 ? 10 : 0;
    if (timeStamps > 0) {
        field += timeStamps;
        if (field > headerEnd)
            return std::nullopt;
        if (field < headerEnd && video && (flags & 0x01))
            extensionFlags = field;
    } else if ((flags & 0xC1) == 0x01) {
        if (field >= headerEnd)
            return std::nullopt;
        extensionFlags = field;
    }

    // -1: the id is the stream id (video) or the substream id that follows the header.
    int id = isVideoStreamId(streamId) ? streamId : -1;
    bool substream = streamId == PrivateStream1;
    if (extensionFlags) {
        const uint8_t extension = pack[*extensionFlags];
        size_t next = *extensionFlags + 1;
        if (extension & PstdFlag) {
            next += 2;
            if (next > headerEnd)
                return std::nullopt;
            if (!(extension & Extension2Flag) && next == headerEnd && substream)
                return std::nullopt; // the payload starts without its substream header
        }
        if (extension & Extension2Flag) {
            next += 2;
            if (next > headerEnd)
                return std::nullopt;
            const uint8_t extensionId = pack[next - 1] & 0x7F;
            if (extensionId != 0x55 && extensionId != 0x56)
                return std::nullopt;
            id = extensionId;
            substream = false;
        } else if (!(extension & PstdFlag) && next == headerEnd) {
            return std::nullopt; // the header ends on the flags: the engine never reaches the payload
        }
    }
    if (id < 0 && !substream)
        return std::nullopt; // extended stream id without a VC-1 stream id extension

    size_t start = headerEnd;
    if (substream) {
        if (start >= end)
            return std::nullopt;
        const uint8_t substreamId = pack[start];
        const StreamCodec* codec = CodecOfId(substreamId);
        if (!codec || codec->kind == StreamKind::Video)
            return std::nullopt;
        id = substreamId;
        start += 1 + (codec->kind == StreamKind::Audio ? audioHeaderAfterId(substreamId) : 0);
    }
    if (start > end)
        return std::nullopt;
    return PacketPayload{uint8_t(id), start};
}

// PES_extension flags: private_data(0x80) pack_header(0x40) sequence_counter(0x20)
// P-STD(0x10) reserved(3) extension_2(0x01), the fields they announce, then
// marker field_length(7), stream_id_extension_flag stream_id_extension(7).
std::optional<size_t> StreamIdExtensionAt(const uint8_t* pack, size_t packet, size_t length) {
    if (packet + OptionalFieldsAt > length || (pack[packet + PesFlagsAt] & 0x01) == 0)
        return std::nullopt;
    const size_t headerEnd = packet + OptionalFieldsAt + pack[packet + HeaderLengthAt];
    static constexpr uint8_t PtsDtsBytes[4] = {0, 5, 5, 10}; // flags 00, 01, 10, 11
    const uint8_t flags = pack[packet + PesFlagsAt];
    size_t at = packet + OptionalFieldsAt + PtsDtsBytes[flags >> 6];
    if (flags & 0x20) // ESCR
        at += 6;
    if (flags & 0x10) // ES rate
        at += 3;
    if (flags & 0x08) // DSM trick mode
        at += 1;
    if (flags & 0x04) // additional copy info
        at += 1;
    if (flags & 0x02) // previous PES CRC
        at += 2;
    if (at >= headerEnd || at >= length)
        return std::nullopt;
    const uint8_t extension = pack[at++];
    if (extension & 0x80)
        at += 16;
    if (extension & 0x40) {
        if (at >= length)
            return std::nullopt;
        at += 1 + pack[at];
    }
    if (extension & 0x20)
        at += 2;
    if (extension & PstdFlag)
        at += 2;
    if ((extension & Extension2Flag) == 0)
        return std::nullopt;
    at += 1; // field length
    if (at >= headerEnd || at >= length)
        return std::nullopt;
    return at;
}

} // namespace halyard
