#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/StreamIds.h"

namespace halyard {

// The ids of the rebuilt file: for every stream kept from the source (named by its
// stream id, stream id extension or substream id, which tells its codec) the id
// written in its place. A new id stays in the stream's codec, and its slot (the id's
// offset in the codec's ids, as the engine claims catalogue slots) is one that no
// other kept stream of the same kind has, so that a demux of the rebuilt file writes
// every kept stream into a file of its own.
//
// The streams are numbered in the order their first packs come, the first of a kind
// in slot 0, the next in slot 1 ..., one count per kind over all codecs: the first kept
// AC-3 stream 0x82 becomes 0x80, a DTS stream 0x8A kept after it 0x89. Where that would
// leave too few slots for the codecs with fewer ids (AC-3, DTS, LPCM and TrueHD have 8
// audio slots, Dolby Digital Plus 16), a stream of a codec with more ids takes a
// higher slot instead.
class RebuildIdMap {
public:
    static constexpr uint8_t Unassigned = 0xFF;
    // Renumbered subpictures take slots 0-15, the ones that have a box; the ids of slots
    // 16-31 (0x30-0x3F, 0x70-0x7F) are kept as they are.
    static constexpr uint8_t SubpictureSlots = 16;

    RebuildIdMap() { reset(); }

    // Every id unassigned, every slot free: the state at the start of a job.
    void reset();

    uint8_t operator[](uint8_t sourceId) const { return newId_[sourceId]; }
    bool assigned(uint8_t sourceId) const { return newId_[sourceId] != Unassigned; }

    // Numbers the given streams (ids of known codecs, unassigned yet, in the order their
    // first packs come) all at once. When the streams of a kind need more slots than
    // there are, nothing is assigned and the streams of that kind are returned;
    // otherwise the result is empty.
    std::vector<uint8_t> plan(const std::vector<uint8_t>& sourceIds);

    // The output id of a kept stream: its id from the plan, or for a stream the plan did
    // not know, the lowest free slot of its codec; Unassigned when its codec has none.
    uint8_t keep(uint8_t sourceId);

    // A kept stream that keeps its id (a subpicture of slots 16-31); it holds its slot.
    void keepAsIs(uint8_t sourceId);

    // How many of the codec's slots a renumbered stream can take.
    static unsigned slotsOf(const StreamCodec& codec);

private:
    void assign(uint8_t sourceId, unsigned slot);
    bool slotTaken(StreamKind kind, unsigned slot) const { return taken_[size_t(kind)][slot]; }

    std::array<uint8_t, 256> newId_{};
    std::array<std::array<bool, 32>, 3> taken_{};
};

} // namespace halyard
