#include "rebuild/RebuildIdMap.h"

#include <algorithm>

namespace halyard {

namespace {
// The distinct numbers of slots a codec of a kind offers, smallest first: every codec's
// slots begin at 0, so these are the only limits to meet.
constexpr std::array<unsigned, 3> SlotLimits{2, 8, 16};

// Whether the streams still to number (the slots each can take) fit the free slots:
// for every limit, no more streams that need a slot below it than free slots below it.
// As each codec's slots run from 0, that is enough for all of them to find one.
bool fits(const std::vector<unsigned>& needs, const std::array<bool, 32>& taken) {
    for (unsigned limit : SlotLimits) {
        const auto demand = size_t(std::count_if(needs.begin(), needs.end(), [&](unsigned n) { return n <= limit; }));
        const auto free = size_t(std::count(taken.begin(), taken.begin() + limit, false));
        if (demand > free)
            return false;
    }
    return true;
}
} // namespace

unsigned RebuildIdMap::slotsOf(const StreamCodec& codec) {
    return codec.kind == StreamKind::Subpicture ? SubpictureSlots : codec.ids;
}

void RebuildIdMap::reset() {
    newId_.fill(Unassigned);
    for (auto& kind : taken_)
        kind.fill(false);
}

void RebuildIdMap::assign(uint8_t sourceId, unsigned slot) {
    const StreamCodec& codec = *CodecOfId(sourceId);
    newId_[sourceId] = uint8_t(codec.firstId + slot);
    taken_[size_t(codec.kind)][slot] = true;
}

std::vector<uint8_t> RebuildIdMap::plan(const std::vector<uint8_t>& sourceIds) {
    std::array<std::vector<uint8_t>, 3> streams;
    std::array<bool, 256> listed{};
    for (uint8_t id : sourceIds) {
        const StreamCodec* codec = CodecOfId(id);
        if (codec && !assigned(id) && !listed[id]) {
            listed[id] = true;
            streams[size_t(codec->kind)].push_back(id);
        }
    }
    auto needsOf = [](const std::vector<uint8_t>& ids, size_t from) {
        std::vector<unsigned> needs;
        for (size_t i = from; i < ids.size(); ++i)
            needs.push_back(slotsOf(*CodecOfId(ids[i])));
        return needs;
    };
    for (size_t kind = 0; kind < streams.size(); ++kind)
        if (!fits(needsOf(streams[kind], 0), taken_[kind]))
            return streams[kind];

    // Each stream takes the lowest free slot that leaves room for the ones after it.
    for (size_t kind = 0; kind < streams.size(); ++kind) {
        const std::vector<uint8_t>& ids = streams[kind];
        for (size_t i = 0; i < ids.size(); ++i) {
            const std::vector<unsigned> after = needsOf(ids, i + 1);
            const unsigned slots = slotsOf(*CodecOfId(ids[i]));
            for (unsigned slot = 0; slot < slots; ++slot) {
                if (taken_[kind][slot])
                    continue;
                taken_[kind][slot] = true;
                const bool room = fits(after, taken_[kind]);
                taken_[kind][slot] = false;
                if (room) {
                    assign(ids[i], slot);
                    break;
                }
            }
        }
    }
    return {};
}

uint8_t RebuildIdMap::keep(uint8_t sourceId) {
    if (assigned(sourceId))
        return newId_[sourceId];
    const StreamCodec* codec = CodecOfId(sourceId);
    if (!codec)
        return Unassigned;
    for (unsigned slot = 0; slot < slotsOf(*codec); ++slot) {
        if (!slotTaken(codec->kind, slot)) {
            assign(sourceId, slot);
            return newId_[sourceId];
        }
    }
    return Unassigned;
}

void RebuildIdMap::keepAsIs(uint8_t sourceId) {
    const StreamCodec* codec = CodecOfId(sourceId);
    if (!codec || assigned(sourceId))
        return;
    newId_[sourceId] = sourceId;
    taken_[size_t(codec->kind)][size_t(sourceId - codec->firstId)] = true;
}

} // namespace halyard
