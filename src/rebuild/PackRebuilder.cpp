#include "rebuild/PackRebuilder.h"

#include <optional>

namespace halyard {

namespace {
// Pack header (MPEG-2): 00 00 01 BA, SCR, mux rate, then reserved(5)
// pack_stuffing_length(3) in byte 13 and that many stuffing bytes.
constexpr size_t PackHeaderSize = 14;
constexpr size_t PackStuffingByte = 13;

// Stream ids.
constexpr uint8_t SystemHeaderId = 0xBB;
constexpr uint8_t PrivateStream1 = 0xBD;
constexpr uint8_t ExtendedStreamId = 0xFD;

// Offsets from a packet's start code: stream id, PES flags, header data length, and
// the first optional header field.
constexpr size_t StreamIdAt = 3;
constexpr size_t PesFlagsAt = 7;
constexpr size_t HeaderLengthAt = 8;
constexpr size_t OptionalFieldsAt = 9;

// System header: audio_bound(6) fixed_flag CSPS_flag, then
// system_audio_lock_flag system_video_lock_flag marker video_bound(5).
constexpr size_t AudioBoundAt = 9;
constexpr size_t VideoBoundAt = 10;

// HD DVD navigation pack: the DSI packet at 1287 (00 00 01 BF, length 0x02F3,
// substream 01); the DSI data begins at 1294.
constexpr size_t DsiMarkerAt = 1289;
constexpr std::array<uint8_t, 5> DsiMarker{0x01, 0xBF, 0x02, 0xF3, 0x01};
constexpr size_t DsiStartPtmAt = 1338;         // vob_v_s_ptm
constexpr size_t DsiEndPtmAt = 1342;           // vob_v_e_ptm
constexpr size_t DsiAudioSyncAt = 1824;        // 8 entries of 2 bytes
constexpr size_t DsiSubpictureSyncAt = 1840;   // 32 entries of 4 bytes; the first 16 have boxes
constexpr size_t AudioSyncEntries = 8;
constexpr size_t SubpictureSyncEntries = 16;
constexpr size_t DsiEnd = DsiSubpictureSyncAt + 4 * SubpictureSyncEntries;

constexpr uint8_t Vc1Primary = 0x55;
constexpr uint8_t Vc1Secondary = 0x56;

bool isAudioSubstream(uint8_t id) {
    return (id >= 0x80 && id <= 0x8F) || (id >= 0xA0 && id <= 0xAF) || (id >= 0xB0 && id <= 0xB7) ||
           (id >= 0xC0 && id <= 0xCF); // Dolby Digital Plus in all 16 slots
}

bool isSubpictureSubstream(uint8_t id) { return (id >= 0x20 && id <= 0x2F) || (id >= 0x60 && id <= 0x6F); }

bool isVideoStreamId(uint8_t id) { return id >= 0xE0 && id <= 0xE3; }
bool isMpegAudioStreamId(uint8_t id) { return id >= 0xC0 && id <= 0xDF; }

void putBe32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

// Offset of the byte after the PES header's PTS and DTS, ESCR, ES rate, trick mode,
// copy info and CRC fields, for a packet at `packet`.
size_t afterTimeStampFields(const uint8_t* pack, size_t packet) {
    static constexpr std::array<uint8_t, 4> PtsDtsBytes{0, 5, 5, 10}; // flags 00, 01, 10, 11
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
    return at;
}

// Offset of the stream id extension in the PES extension of a 0xFD packet:
//   PES_extension flags: private_data(0x80) pack_header(0x40) sequence_counter(0x20)
//   P-STD(0x10) reserved(3) extension_2(0x01), the fields they announce, then
//   marker field_length(7), stream_id_extension_flag stream_id_extension(7).
std::optional<size_t> streamIdExtensionAt(const uint8_t* pack, size_t packet, size_t length) {
    if (packet + OptionalFieldsAt > length || (pack[packet + PesFlagsAt] & 0x01) == 0)
        return std::nullopt;
    const size_t headerEnd = packet + OptionalFieldsAt + pack[packet + HeaderLengthAt];
    size_t at = afterTimeStampFields(pack, packet);
    if (at >= headerEnd || at >= length)
        return std::nullopt;
    const uint8_t flags = pack[at++];
    if (flags & 0x80)
        at += 16;
    if (flags & 0x40) {
        if (at >= length)
            return std::nullopt;
        at += 1 + pack[at];
    }
    if (flags & 0x20)
        at += 2;
    if (flags & 0x10)
        at += 2;
    if ((flags & 0x01) == 0)
        return std::nullopt;
    at += 1; // field length
    if (at >= headerEnd || at >= length)
        return std::nullopt;
    return at;
}
} // namespace

RebuildSelection RebuildSelection::From(const StreamCatalogue& catalogue, const UiModel& ui) {
    RebuildSelection selection;
    for (size_t slot = 0; slot < 2; ++slot) {
        selection.VideoIds[slot] = catalogue.VideoType[slot];
        selection.VideoTicked[slot] = ui.cbVideo[slot].ticked;
    }
    for (size_t slot = 0; slot < 16; ++slot) {
        selection.AudioIds[slot] = catalogue.AudioType[slot];
        selection.AudioTicked[slot] = ui.cbAudio[slot].ticked;
        selection.SubpictureIds[slot] = catalogue.SubpictureType[slot];
        selection.SubpictureTicked[slot] = ui.cbSub[slot].ticked;
    }
    return selection;
}

namespace {
template <size_t N>
uint8_t countTicked(const std::array<bool, N>& ticked) {
    uint8_t count = 0;
    for (bool box : ticked)
        count += box ? 1 : 0;
    return count;
}
} // namespace

uint8_t RebuildSelection::tickedVideo() const { return countTicked(VideoTicked); }
uint8_t RebuildSelection::tickedAudio() const { return countTicked(AudioTicked); }
uint8_t RebuildSelection::tickedSubpictures() const { return countTicked(SubpictureTicked); }

PackRebuilder::PackRebuilder(const RebuildSelection& selection, uint32_t firstVideoPts, uint32_t lastVideoPts)
    : selection_(selection), tickedVideo_(selection.tickedVideo()), tickedAudio_(selection.tickedAudio()),
      tickedSubpictures_(selection.tickedSubpictures()), firstVideoPts_(firstVideoPts), lastVideoPts_(lastVideoPts) {}

bool PackRebuilder::rebuildPack(uint8_t* pack, size_t length) {
    if (length < 4 || pack[0] != 0x00 || pack[1] != 0x00 || pack[2] != 0x01 || pack[3] != 0xBA)
        return false;
    if (length <= PackStuffingByte)
        return true;
    // The first packet follows the pack header and its stuffing bytes.
    const size_t packet = PackHeaderSize + (pack[PackStuffingByte] & 0x07);
    if (packet + StreamIdAt >= length || pack[packet] != 0x00 || pack[packet + 1] != 0x00 || pack[packet + 2] != 0x01)
        return true;

    const uint8_t streamId = pack[packet + StreamIdAt];
    if (streamId == SystemHeaderId) {
        rewriteSystemHeader(pack, packet, length);
        return true;
    }
    if (streamId == PrivateStream1)
        return keepPrivateStream1(pack, packet, length);
    if (streamId == ExtendedStreamId)
        return keepExtendedStream(pack, packet, length);
    if (isVideoStreamId(streamId)) {
        if (videoDropped(streamId))
            return false;
        pack[packet + StreamIdAt] = idMap_[streamId];
        return true;
    }
    if (isMpegAudioStreamId(streamId)) {
        if (audioDropped(streamId))
            return false;
        pack[packet + StreamIdAt] = idMap_[streamId];
    }
    return true;
}

// Substreams outside the audio and subpicture ranges have no box and no new id: their
// packs are copied as they are.
bool PackRebuilder::keepPrivateStream1(uint8_t* pack, size_t packet, size_t length) {
    if (packet + OptionalFieldsAt > length)
        return true;
    const size_t at = packet + OptionalFieldsAt + pack[packet + HeaderLengthAt];
    if (at >= length)
        return true;
    const uint8_t substream = pack[at];
    if (isAudioSubstream(substream)) {
        if (audioDropped(substream))
            return false;
    } else if (isSubpictureSubstream(substream)) {
        if (subpictureDropped(substream))
            return false;
    } else {
        return true;
    }
    pack[at] = idMap_[substream];
    return true;
}

// Stream id extensions other than VC-1's have no box and no new id either.
bool PackRebuilder::keepExtendedStream(uint8_t* pack, size_t packet, size_t length) {
    const std::optional<size_t> at = streamIdExtensionAt(pack, packet, length);
    if (!at)
        return true;
    const uint8_t extension = pack[*at];
    if (extension != Vc1Primary && extension != Vc1Secondary)
        return true;
    if (videoDropped(extension))
        return false;
    pack[*at] = idMap_[extension];
    return true;
}

void PackRebuilder::rewriteSystemHeader(uint8_t* pack, size_t packet, size_t length) const {
    if (packet + VideoBoundAt < length) {
        uint8_t& audio = pack[packet + AudioBoundAt];
        audio = uint8_t(tickedAudio_ << 2 | (audio & 0x03));
        uint8_t& video = pack[packet + VideoBoundAt];
        video = uint8_t((video & 0xE0) | tickedVideo_);
    }
    rewriteDsi(pack, length);
}

void PackRebuilder::rewriteDsi(uint8_t* pack, size_t length) const {
    if (length < DsiEnd)
        return;
    for (size_t i = 0; i < DsiMarker.size(); ++i)
        if (pack[DsiMarkerAt + i] != DsiMarker[i])
            return;
    putBe32(pack + DsiStartPtmAt, firstVideoPts_);
    putBe32(pack + DsiEndPtmAt, lastVideoPts_);
    for (size_t i = tickedAudio_; i < AudioSyncEntries; ++i)
        pack[DsiAudioSyncAt + 2 * i] = pack[DsiAudioSyncAt + 2 * i + 1] = 0;
    for (size_t i = tickedSubpictures_; i < SubpictureSyncEntries; ++i)
        putBe32(pack + DsiSubpictureSyncAt + 4 * i, 0);
}

} // namespace halyard
