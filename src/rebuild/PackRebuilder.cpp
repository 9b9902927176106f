#include "rebuild/PackRebuilder.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "rebuild/PacketPayload.h"

namespace halyard {

namespace {
constexpr size_t PackStuffingByte = 13; // reserved(5) pack_stuffing_length(3)

// Stream ids.
constexpr uint8_t SystemHeaderId = 0xBB;
constexpr uint8_t PrivateStream1 = 0xBD;
constexpr uint8_t ExtendedStreamId = 0xFD;

// Offsets from a packet's start code: stream id, header data length, first optional field.
constexpr size_t StreamIdAt = 3;
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
constexpr size_t DsiStartPtmAt = 1338;       // vob_v_s_ptm
constexpr size_t DsiEndPtmAt = 1342;         // vob_v_e_ptm
constexpr size_t DsiAudioSyncAt = 1824;      // 8 entries of 2 bytes
constexpr size_t DsiSubpictureSyncAt = 1840; // 32 entries of 4 bytes
constexpr size_t AudioSyncEntries = 8;
constexpr size_t SubpictureSyncEntries = 32;
constexpr size_t DsiEnd = DsiSubpictureSyncAt + 4 * SubpictureSyncEntries;

bool isVideoStreamId(uint8_t id) { return id >= 0xE0 && id <= 0xE3; }

uint32_t be32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}
void putBe32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

template <size_t N>
uint8_t countTicked(const std::array<bool, N>& ticked) {
    return uint8_t(std::count(ticked.begin(), ticked.end(), true));
}
} // namespace

RebuildSelection RebuildSelection::From(const StreamCatalogue& catalogue, const UiModel& ui) {
    RebuildSelection selection;
    for (size_t slot = 0; slot < 2; ++slot) {
        selection.VideoFound[slot] = catalogue.VideoType[slot] != EmptySlot;
        selection.VideoTicked[slot] = ui.cbVideo[slot].ticked;
    }
    for (size_t slot = 0; slot < 16; ++slot) {
        selection.AudioFound[slot] = catalogue.AudioType[slot] != EmptySlot;
        selection.AudioTicked[slot] = ui.cbAudio[slot].ticked;
        selection.SubpictureFound[slot] = catalogue.SubpictureType[slot] != EmptySlot;
        selection.SubpictureTicked[slot] = ui.cbSub[slot].ticked;
    }
    return selection;
}

uint8_t RebuildSelection::tickedVideo() const { return countTicked(VideoTicked); }
uint8_t RebuildSelection::tickedAudio() const { return countTicked(AudioTicked); }
uint8_t RebuildSelection::tickedSubpictures() const { return countTicked(SubpictureTicked); }

PackRebuilder::PackRebuilder(const RebuildSelection& selection, uint32_t firstVideoPts, uint32_t lastVideoPts)
    : selection_(selection), tickedVideo_(selection.tickedVideo()), tickedAudio_(selection.tickedAudio()),
      tickedSubpictures_(selection.tickedSubpictures()), firstVideoPts_(firstVideoPts), lastVideoPts_(lastVideoPts) {
    beginFile(nullptr);
}

// A box decides for its slot when Read EVO found a stream there; a stream in a slot that
// no file showed Read EVO is kept, like the streams it did find and the user kept.
bool PackRebuilder::boxDrops(StreamKind kind, size_t slot) const {
    switch (kind) {
    case StreamKind::Video: return selection_.VideoFound[slot] && !selection_.VideoTicked[slot];
    case StreamKind::Audio: return selection_.AudioFound[slot] && !selection_.AudioTicked[slot];
    case StreamKind::Subpicture: return selection_.SubpictureFound[slot] && !selection_.SubpictureTicked[slot];
    }
    return false;
}

StreamFate PackRebuilder::fateOf(uint8_t id) {
    if (judged_[id])
        return fates_[id];
    judged_[id] = true;
    const StreamCodec& codec = *CodecOfId(id);
    const size_t slot = size_t(SlotOfId(id));
    if (codec.kind == StreamKind::Subpicture && slot >= RebuildIdMap::SubpictureSlots) {
        idMap_.keepAsIs(id);
        return fates_[id] = StreamFate::KeptAsIs;
    }
    if (boxDrops(codec.kind, slot))
        return fates_[id] = StreamFate::Dropped;
    if (idMap_.keep(id) == RebuildIdMap::Unassigned) {
        withoutSlot_.push_back(id);
        return fates_[id] = StreamFate::NoSlot;
    }
    return fates_[id] = StreamFate::Kept;
}

std::vector<PackRebuilder::PlannedStream> PackRebuilder::plan(const std::vector<const SourceStreamMap*>& files) {
    // The streams of each file in the order of their first payloads, then the rest of
    // its catalogue; a stream of both files keeps its place from the first.
    std::vector<PlannedStream> streams;
    std::array<int, 256> listed;
    listed.fill(-1);
    for (size_t file = 0; file < files.size(); ++file) {
        if (!files[file])
            continue;
        const SourceStreamMap& map = *files[file];
        std::vector<uint8_t> ids;
        for (int id = 0; id < 256; ++id)
            if (map.Tally.Streams[size_t(id)].Packets > 0 && CodecOfId(uint8_t(id)))
                ids.push_back(uint8_t(id));
        std::sort(ids.begin(), ids.end(), [&](uint8_t a, uint8_t b) {
            return map.Tally.Streams[a].FirstOrder < map.Tally.Streams[b].FirstOrder;
        });
        const StreamCatalogue& catalogue = map.Catalogue;
        for (const auto* types : {&catalogue.VideoType, &catalogue.AudioType})
            for (int32_t type : *types)
                if (type >= 0 && type < 256 && CodecOfId(uint8_t(type)))
                    ids.push_back(uint8_t(type));
        for (int32_t type : catalogue.SubpictureType)
            if (type >= 0 && type < 256 && CodecOfId(uint8_t(type)))
                ids.push_back(uint8_t(type));
        for (uint8_t id : ids) {
            if (listed[id] < 0) {
                listed[id] = int(streams.size());
                streams.push_back({id, {}});
            }
            std::vector<size_t>& in = streams[size_t(listed[id])].files;
            if (std::find(in.begin(), in.end(), file) == in.end())
                in.push_back(file);
        }
    }

    // Decide each one's fate first; the kept ones are numbered together.
    std::vector<uint8_t> kept;
    for (const PlannedStream& stream : streams) {
        const StreamCodec& codec = *CodecOfId(stream.id);
        const size_t slot = size_t(SlotOfId(stream.id));
        if ((codec.kind == StreamKind::Subpicture && slot >= RebuildIdMap::SubpictureSlots) ||
            boxDrops(codec.kind, slot))
            fateOf(stream.id);
        else
            kept.push_back(stream.id);
    }
    const std::vector<uint8_t> crowded = idMap_.plan(kept);
    if (!crowded.empty()) {
        std::vector<PlannedStream> named;
        for (uint8_t id : crowded)
            named.push_back(streams[size_t(listed[id])]);
        return named;
    }
    for (uint8_t id : kept)
        fateOf(id);
    return {};
}

void PackRebuilder::beginFile(const SourceStreamMap* map) {
    for (auto& slots : fileSlots_)
        slots.fill(-1);
    if (!map)
        return;
    auto take = [&](StreamKind kind, const auto& types) {
        for (size_t slot = 0; slot < types.size() && slot < 32; ++slot)
            if (types[slot] >= 0 && types[slot] < 256)
                fileSlots_[size_t(kind)][slot] = int16_t(types[slot]);
    };
    take(StreamKind::Video, map->Catalogue.VideoType);
    take(StreamKind::Audio, map->Catalogue.AudioType);
    take(StreamKind::Subpicture, map->Catalogue.SubpictureType);
}

// A stream met in a slot that the file's map has empty claims it, as the engine's
// catalogue would.
void PackRebuilder::notePresent(uint8_t id) {
    const StreamCodec* codec = CodecOfId(id);
    if (!codec)
        return;
    int16_t& slot = fileSlots_[size_t(codec->kind)][size_t(SlotOfId(id))];
    if (slot < 0)
        slot = id;
}

uint8_t* PackBytes::edit() {
    if (write_ == nullptr) {
        std::memcpy(scratch_, read_, length_);
        read_ = write_ = scratch_;
    }
    return write_;
}

PackFate PackRebuilder::rebuildPack(uint8_t* pack, size_t length, bool& navigation) {
    PackBytes bytes(pack, length);
    return rebuild(bytes, length, navigation);
}

PackFate PackRebuilder::rebuildPack(const uint8_t*& pack, size_t length, uint8_t* scratch, bool& navigation) {
    PackBytes bytes(pack, length, scratch);
    const PackFate fate = rebuild(bytes, length, navigation);
    pack = bytes.data();
    return fate;
}

PackFate PackRebuilder::rebuild(PackBytes& bytes, size_t length, bool& navigation) {
    const uint8_t* const pack = bytes.data(); // read only: changes go through bytes.edit()
    navigation = false;
    if (length < 4 || pack[0] != 0x00 || pack[1] != 0x00 || pack[2] != 0x01 || pack[3] != 0xBA)
        return PackFate::Dropped;
    if (length <= PackStuffingByte)
        return PackFate::Kept;
    const size_t packet = FirstPacketOf(pack);
    if (packet + StreamIdAt >= length || pack[packet] != 0x00 || pack[packet + 1] != 0x00 || pack[packet + 2] != 0x01)
        return PackFate::Kept;

    const uint8_t streamId = pack[packet + StreamIdAt];
    if (streamId == SystemHeaderId) {
        bool changed = rewriteSystemHeader(bytes, packet, length);
        if (rewriteDsi(bytes, length))
            changed = navigation = true;
        return changed ? PackFate::Rewritten : PackFate::Kept;
    }
    if (streamId == PrivateStream1)
        return keepPrivateStream1(bytes, packet, length);
    if (streamId == ExtendedStreamId)
        return keepExtendedStream(bytes, packet, length);
    if (isVideoStreamId(streamId)) {
        notePresent(streamId);
        if (fateOf(streamId) != StreamFate::Kept)
            return PackFate::Dropped;
        countPackets(pack, length);
        return renumber(bytes, packet + StreamIdAt, streamId);
    }
    // Padding, navigation and MPEG audio (which has no slot in the catalogue and no box)
    // lead packs that are copied; a stream packet after them counts as any other.
    countPackets(pack, length);
    return PackFate::Kept;
}

PackFate PackRebuilder::renumber(PackBytes& pack, size_t at, uint8_t id) {
    const uint8_t newId = idMap_[id];
    if (newId == pack.data()[at])
        return PackFate::Kept;
    pack.edit()[at] = newId;
    return PackFate::Rewritten;
}

// Substreams that name no stream to the engine have no box and no new id: their packs
// are copied as they are.
PackFate PackRebuilder::keepPrivateStream1(PackBytes& bytes, size_t packet, size_t length) {
    const uint8_t* const pack = bytes.data();
    if (packet + OptionalFieldsAt > length)
        return PackFate::Kept;
    const size_t at = packet + OptionalFieldsAt + pack[packet + HeaderLengthAt];
    if (at >= length)
        return PackFate::Kept;
    const uint8_t substream = pack[at];
    const StreamCodec* codec = CodecOfId(substream);
    if (!codec || codec->kind == StreamKind::Video) {
        countPackets(pack, length);
        return PackFate::Kept;
    }
    notePresent(substream);
    switch (fateOf(substream)) {
    case StreamFate::Dropped:
    case StreamFate::NoSlot:
        return PackFate::Dropped;
    case StreamFate::KeptAsIs:
        countPackets(pack, length);
        return PackFate::Kept;
    case StreamFate::Kept:
        break;
    }
    countPackets(pack, length);
    return renumber(bytes, at, substream);
}

// Stream id extensions other than VC-1's have no box and no new id either.
PackFate PackRebuilder::keepExtendedStream(PackBytes& bytes, size_t packet, size_t length) {
    const uint8_t* const pack = bytes.data();
    const std::optional<size_t> at = StreamIdExtensionAt(pack, packet, length);
    if (!at || (pack[*at] != 0x55 && pack[*at] != 0x56)) {
        countPackets(pack, length);
        return PackFate::Kept;
    }
    const uint8_t extension = pack[*at];
    notePresent(extension);
    if (fateOf(extension) != StreamFate::Kept)
        return PackFate::Dropped;
    countPackets(pack, length);
    return renumber(bytes, *at, extension);
}

// Every packet of a kept pack whose stream is kept counts for that stream's new id.
void PackRebuilder::countPackets(const uint8_t* pack, size_t length) {
    ForEachPacket(pack, length, [&](size_t at, size_t end) {
        const std::optional<PacketPayload> payload = PayloadOfPacket(pack, at, end);
        if (!payload)
            return;
        const StreamFate fate = fateOf(payload->id);
        if (fate != StreamFate::Kept && fate != StreamFate::KeptAsIs)
            return;
        StreamCount& count = kept_[idMap_[payload->id]];
        count.Packets += 1;
        count.PayloadBytes += end - payload->start;
    });
}

bool PackRebuilder::rewriteSystemHeader(PackBytes& pack, size_t packet, size_t length) const {
    if (packet + VideoBoundAt >= length)
        return false;
    const uint8_t audio = pack.data()[packet + AudioBoundAt];
    const uint8_t video = pack.data()[packet + VideoBoundAt];
    const uint8_t newAudio = uint8_t(tickedAudio_ << 2 | (audio & 0x03));
    const uint8_t newVideo = uint8_t((video & 0xE0) | tickedVideo_);
    if (newAudio == audio && newVideo == video)
        return false;
    uint8_t* edited = pack.edit();
    edited[packet + AudioBoundAt] = newAudio;
    edited[packet + VideoBoundAt] = newVideo;
    return true;
}

// The entries of the kept streams move to the indexes of their new slots; the entries
// of dropped streams, and of slots that hold no stream in this file, are left out.
bool PackRebuilder::rewriteDsi(PackBytes& bytes, size_t length) {
    if (length < DsiEnd)
        return false;
    for (size_t i = 0; i < DsiMarker.size(); ++i)
        if (bytes.data()[DsiMarkerAt + i] != DsiMarker[i])
            return false;
    uint8_t* const pack = bytes.edit();
    putBe32(pack + DsiStartPtmAt, firstVideoPts_);
    putBe32(pack + DsiEndPtmAt, lastVideoPts_);

    // The index a kept stream's entry goes to; -1 for an entry that is left out.
    auto newIndex = [&](StreamKind kind, size_t index) -> int {
        const int16_t stream = fileSlots_[size_t(kind)][index];
        if (stream < 0)
            return -1;
        const StreamFate fate = fateOf(uint8_t(stream));
        if (fate != StreamFate::Kept && fate != StreamFate::KeptAsIs)
            return -1;
        return SlotOfId(idMap_[uint8_t(stream)]);
    };
    std::array<uint16_t, AudioSyncEntries> audio{};
    for (size_t i = 0; i < AudioSyncEntries; ++i) {
        const uint16_t value = uint16_t(pack[DsiAudioSyncAt + 2 * i] << 8 | pack[DsiAudioSyncAt + 2 * i + 1]);
        const int to = newIndex(StreamKind::Audio, i);
        if (value != 0 && to >= 0 && size_t(to) < AudioSyncEntries && audio[size_t(to)] == 0)
            audio[size_t(to)] = value;
    }
    std::array<uint32_t, SubpictureSyncEntries> subpictures{};
    for (size_t i = 0; i < SubpictureSyncEntries; ++i) {
        const uint32_t value = be32(pack + DsiSubpictureSyncAt + 4 * i);
        const int to = newIndex(StreamKind::Subpicture, i);
        if (value != 0 && to >= 0 && subpictures[size_t(to)] == 0)
            subpictures[size_t(to)] = value;
    }
    for (size_t i = 0; i < AudioSyncEntries; ++i) {
        pack[DsiAudioSyncAt + 2 * i] = uint8_t(audio[i] >> 8);
        pack[DsiAudioSyncAt + 2 * i + 1] = uint8_t(audio[i]);
    }
    for (size_t i = 0; i < SubpictureSyncEntries; ++i)
        putBe32(pack + DsiSubpictureSyncAt + 4 * i, subpictures[i]);
    return true;
}

} // namespace halyard
