#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/RunState.h"
#include "model/UiModel.h"
#include "rebuild/RebuildIdMap.h"

namespace halyard {

inline constexpr size_t PackSize = 2048;

// The boxes a rebuild goes by, taken once when the job starts so that a box clicked
// during the run changes nothing: for every slot that has a box (video 0 and 1, audio
// 0-15, subpicture 0-15), whether Read EVO found a stream in it (in any file) and
// whether its box is ticked.
struct RebuildSelection {
    std::array<bool, 2> VideoFound{};
    std::array<bool, 2> VideoTicked{};
    std::array<bool, 16> AudioFound{};
    std::array<bool, 16> AudioTicked{};
    std::array<bool, 16> SubpictureFound{};
    std::array<bool, 16> SubpictureTicked{};

    static RebuildSelection From(const StreamCatalogue& catalogue, const UiModel& ui);

    uint8_t tickedVideo() const;
    uint8_t tickedAudio() const;
    uint8_t tickedSubpictures() const;
};

// What becomes of a stream of the source, by the id that names it to the engine.
enum class StreamFate : uint8_t {
    Dropped,  // its slot's box is unticked
    Kept,     // renumbered: its slot's box is ticked, or Read EVO did not find its slot
    KeptAsIs, // kept under its own id: a subpicture of slots 16-31, which have no box
    NoSlot,   // kept, though no free slot of its codec is left for it: its packs are dropped
};

// What becomes of a pack.
enum class PackFate : uint8_t {
    Dropped,
    Kept,      // written as it came
    Rewritten, // written with changed bytes: a new id, new bounds, new navigation data
};

// A pack as the rebuilder reads and changes it: in place, or read where it stands (in
// the source, mapped) and copied into a scratch pack of its own at its first change.
class PackBytes {
public:
    PackBytes(uint8_t* pack, size_t length) : read_(pack), write_(pack), length_(length) {}
    PackBytes(const uint8_t* pack, size_t length, uint8_t* scratch) : read_(pack), scratch_(scratch), length_(length) {}

    const uint8_t* data() const { return read_; }
    uint8_t* edit();

private:
    const uint8_t* read_;
    uint8_t* write_ = nullptr;
    uint8_t* scratch_ = nullptr;
    size_t length_;
};

// Decides, pack by pack, what goes into the rebuilt file and rewrites it in place:
// packs of dropped streams are left out, the ids of kept ones renumbered, the system
// header's bounds set to the ticked boxes, and the HD DVD navigation data (DSI) given
// the time span of the whole source and the synchronisation entries of the kept
// streams at their new indexes. Only the first packet of a pack decides its fate.
//
// Each source file is judged by its own streams: a box covers what its slot holds in
// every file, and a synchronisation entry stands for the stream that its index's slot
// holds in the file at hand. It counts the packets and payload bytes of each kept
// stream in the packs it keeps, as the engine counts them, for the check of the output.
class PackRebuilder {
public:
    PackRebuilder(const RebuildSelection& selection, uint32_t firstVideoPts, uint32_t lastVideoPts);

    // Numbers the kept streams of the source files before any pack is read, in the
    // order their first packs come. When the kept streams of a kind need more slots
    // than there are, nothing is numbered and the streams of that kind are returned
    // (with the files they are in); otherwise the result is empty.
    struct PlannedStream {
        uint8_t id;
        std::vector<size_t> files; // indexes into the maps given
    };
    std::vector<PlannedStream> plan(const std::vector<const SourceStreamMap*>& files);

    // The next source file begins; `map` is what Read EVO found in it (nullptr: nothing).
    void beginFile(const SourceStreamMap* map);

    // Rewrites the pack (`length` bytes, 2048 but for a file's last piece) and says what
    // becomes of it. A piece that does not begin with a pack start code is dropped.
    // `navigation` is set for a kept HD DVD navigation pack: its synchronisation entries
    // now stand at their new indexes with the source's addresses, which the writer
    // corrects for the packs left out.
    PackFate rebuildPack(uint8_t* pack, size_t length, bool& navigation);
    // The same for a pack read where it stands: a pack that is rewritten is copied into
    // scratch (PackSize bytes) first, and `pack` then points at the copy.
    PackFate rebuildPack(const uint8_t*& pack, size_t length, uint8_t* scratch, bool& navigation);

    // What becomes of the stream with this id (assigning its new id if it is kept).
    StreamFate fateOf(uint8_t id);

    const RebuildIdMap& ids() const { return idMap_; }
    // Packets and payload bytes kept, by new id.
    const std::array<StreamCount, 256>& keptCounts() const { return kept_; }
    // Streams kept without a free slot, in the order met (their packs were dropped).
    const std::vector<uint8_t>& withoutSlot() const { return withoutSlot_; }

private:
    PackFate rebuild(PackBytes& pack, size_t length, bool& navigation);
    PackFate keepPrivateStream1(PackBytes& pack, size_t packet, size_t length);
    PackFate keepExtendedStream(PackBytes& pack, size_t packet, size_t length);
    PackFate renumber(PackBytes& pack, size_t at, uint8_t id);
    bool boxDrops(StreamKind kind, size_t slot) const;
    bool rewriteSystemHeader(PackBytes& pack, size_t packet, size_t length) const;
    bool rewriteDsi(PackBytes& pack, size_t length);
    void notePresent(uint8_t id);
    void countPackets(const uint8_t* pack, size_t length);

    RebuildSelection selection_;
    uint8_t tickedVideo_;
    uint8_t tickedAudio_;
    uint8_t tickedSubpictures_;
    uint32_t firstVideoPts_;
    uint32_t lastVideoPts_;
    RebuildIdMap idMap_;
    std::array<StreamFate, 256> fates_{};
    std::array<bool, 256> judged_{};
    // The stream each catalogue slot holds in the file at hand (-1: none), by kind:
    // what the synchronisation entries of its navigation packs stand for.
    std::array<std::array<int16_t, 32>, 3> fileSlots_{};
    std::array<StreamCount, 256> kept_{};
    std::vector<uint8_t> withoutSlot_;
};

} // namespace halyard
