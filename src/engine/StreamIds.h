#pragma once
// The ids that name a stream to the engine and the catalogue slot each one claims: a
// video stream id (MPEG-2 0xE0-0xE1, H.264 0xE2-0xE3), a VC-1 stream id extension
// (0x55-0x56) or a private stream 1 substream id (audio 0x80-0xCF, subpictures
// 0x20-0x3F and 0x60-0x7F). Every codec owns a run of ids whose offset from the run's
// first id is the slot: 0x8A is DTS in audio slot 2, 0x56 VC-1 in video slot 1. The
// runs do not overlap, so the id alone tells the codec.
#include <cstdint>

namespace halyard {

enum class StreamKind : uint8_t { Video, Audio, Subpicture };

struct StreamCodec {
    StreamKind kind;
    uint8_t firstId;  // slot 0
    uint8_t ids;      // ids (and slots) of the codec
    const char* name; // as the log announces the stream
    const char* key;  // as the JSON reports name the codec
};

inline constexpr StreamCodec StreamCodecs[] = {
    {StreamKind::Video, 0xE0, 2, "MPEG-2", "mpeg2"},
    {StreamKind::Video, 0xE2, 2, "H.264 (AVC)", "h264"},
    {StreamKind::Video, 0x55, 2, "VC-1", "vc1"},
    {StreamKind::Audio, 0x80, 8, "Dolby Digital", "ac3"},
    {StreamKind::Audio, 0x88, 8, "DTS HD (DTS)", "dts"},
    {StreamKind::Audio, 0xA0, 8, "LPCM", "lpcm"},
    {StreamKind::Audio, 0xB0, 8, "Dolby TrueHD", "truehd"},
    {StreamKind::Audio, 0xC0, 16, "Dolby Digital Plus", "eac3"},
    {StreamKind::Subpicture, 0x20, 32, "Subpicture", "subpicture"},
    {StreamKind::Subpicture, 0x60, 32, "Extended subpicture", "extended_subpicture"},
};

// The codec of a stream id, extension or substream id; nullptr for an id that names no
// stream (the engine passes such packets over).
constexpr const StreamCodec* CodecOfId(uint8_t id) {
    for (const StreamCodec& codec : StreamCodecs)
        if (id >= codec.firstId && id < codec.firstId + codec.ids)
            return &codec;
    return nullptr;
}

// The catalogue slot that a stream of a known codec claims.
constexpr int SlotOfId(uint8_t id) {
    const StreamCodec* codec = CodecOfId(id);
    return codec ? id - codec->firstId : -1;
}

constexpr const char* StreamKindName(StreamKind kind) {
    return kind == StreamKind::Video ? "video" : kind == StreamKind::Audio ? "audio" : "subpicture";
}

} // namespace halyard
