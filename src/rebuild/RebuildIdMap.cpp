#include "rebuild/RebuildIdMap.h"

namespace halyard {

namespace {
constexpr uint8_t Vc1First = 0x55;

// The ids that a new id for sourceId may take: first, first + 1 ... first + count - 1.
struct IdRange {
    unsigned first;
    unsigned count;
};

IdRange rangeOf(RebuildKind kind, uint8_t id) {
    switch (kind) {
    case RebuildKind::Video:
        if (id == Vc1First || id == Vc1First + 1)
            return {Vc1First, 2};
        return {id & 0xFEu, 2};
    case RebuildKind::Audio:
        if ((id & 0xF0) == 0xC0)
            return {id & 0xF0u, 16};
        return {id & 0xF8u, 8};
    case RebuildKind::Subpicture:
        // 0x20-0x2F and 0x60-0x6F: the substreams that have a box; 0x30-0x3F and
        // 0x70-0x7F pass unchanged and must not be given to another stream.
        return {id & 0xE0u, 16};
    }
    return {id, 1};
}
} // namespace

void RebuildIdMap::reset() {
    newId_.fill(Unassigned);
    taken_.fill(false);
    counters_.fill(0);
}

uint8_t RebuildIdMap::keep(RebuildKind kind, uint8_t sourceId) {
    if (assigned(sourceId))
        return newId_[sourceId];
    uint8_t& n = counters_[static_cast<size_t>(kind)];
    const IdRange range = rangeOf(kind, sourceId);
    unsigned id = range.first + n;
    if (n >= range.count || taken_[id]) {
        id = sourceId; // not reached: the range has a free id for every source id in it
        for (unsigned candidate = range.first; candidate < range.first + range.count; ++candidate) {
            if (!taken_[candidate]) {
                id = candidate;
                break;
            }
        }
    }
    ++n;
    newId_[sourceId] = uint8_t(id);
    taken_[id] = true;
    return uint8_t(id);
}

} // namespace halyard
