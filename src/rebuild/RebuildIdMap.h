#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace halyard {

// The three kinds of stream that Rebuild renumbers, each with a counter of its own.
enum class RebuildKind : uint8_t { Video = 0, Audio = 1, Subpicture = 2 };

// The ids of the rebuilt file: for every id found in the source (a private stream 1
// substream id, a stream id extension or a stream id) the id written in its place.
// Kept streams are numbered per kind in the order their first packs come, one counter
// per kind over all codecs of that kind:
//   video       0x55 + n for VC-1 (0x55, 0x56); else (id with its lowest bit cleared) | n
//   audio       (id & 0xF0) | n for Dolby Digital Plus and MPEG audio 0xC_; else (id & 0xF8) | n
//   subpicture  (id & 0xE0) | n
// A new id never leaves the id range of its codec (0x80-0x87 for Dolby Digital, 0x20-0x2F
// for subpictures ...) and is never given twice: once the counter has run past the
// range, or its number is taken, the stream gets the lowest free id of its range. A
// range holds as many ids as a source can have streams in it, so one is always free.
class RebuildIdMap {
public:
    static constexpr uint8_t Unassigned = 0xFF;

    RebuildIdMap() { reset(); }

    // Every id unassigned, every counter 0: the state at the start of a job.
    void reset();

    uint8_t operator[](uint8_t sourceId) const { return newId_[sourceId]; }
    bool assigned(uint8_t sourceId) const { return newId_[sourceId] != Unassigned; }

    // The output id of a kept stream: assigned from the kind's counter on the first
    // call for the id, the same on every later call.
    uint8_t keep(RebuildKind kind, uint8_t sourceId);

private:
    std::array<uint8_t, 256> newId_{};
    std::array<bool, 256> taken_{};
    std::array<uint8_t, 3> counters_{};
};

} // namespace halyard
