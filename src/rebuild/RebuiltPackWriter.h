#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/OutputStream.h"
#include "rebuild/PackRebuilder.h"

namespace halyard {

// Writes the packs that Rebuild keeps, and corrects the synchronisation addresses of
// the HD DVD navigation packs among them for the packs left out.
//
// An address counts packs from its navigation pack to the first pack of its stream in
// the VOBU: bits 13-0 of an audio entry (0x3FFF: none), bits 29-0 of a subpicture entry
// (0x3FFFFFFF: none); the top bit marks a pack before the navigation pack. A navigation
// pack whose targets lie ahead is held in memory, with the kept packs after it, until
// every target has come by (within its VOBU, or further on); then each address becomes
// the count of kept packs up to its target, or 0 when its target was left out. The
// "none" values stay as they are. A target more than FollowPacks packs (16 MiB) away, or
// past the end of its file, cannot be followed: its entry becomes "none". So at most
// 16 MiB of packs are held. Packs written straight away go out in runs, as they lie in
// the reader's window.
class RebuiltPackWriter {
public:
    static constexpr int64_t FollowPacks = 8192;

    explicit RebuiltPackWriter(OutputStream& output);

    // A new source file: addresses reach no pack of the one before.
    void beginFile();
    // The next pack of the source and what became of it; `navigation` for a kept HD DVD
    // navigation pack, whose entries are corrected in a copy of it, now or once their
    // targets have come by. With `stays`, the pack's bytes stay where they are until
    // endOfWindow(), and the packs that lie in a row there go out together; other bytes
    // (a rewritten pack's copy) are written at once.
    void pack(const uint8_t* data, size_t length, PackFate fate, bool navigation, bool stays = false);
    // The reader's window is about to change: the packs of the current run go out.
    void endOfWindow();
    // The file is done (at its end, or stopped): targets not reached become "none", and
    // every pack held goes out.
    void endOfFile();

    // Addresses set to "none" because their target could not be followed.
    uint64_t unfollowedAddresses() const { return unfollowed_; }
    int64_t packsWritten() const { return outPack_; }

private:
    struct Target {
        int64_t sourcePack;  // -1 once resolved
        uint32_t value;      // the entry as the source had it
        uint16_t offset;     // of the entry in the pack
        uint8_t width;       // 2 or 4 bytes
    };
    struct PendingNavigation {
        size_t heldAt = 0; // offset of the navigation pack in held_
        int64_t outPack = 0;
        int64_t nextTarget = 0;
        unsigned open = 0;
        unsigned count = 0;
        std::array<Target, 40> targets{};
    };

    bool followAddresses(uint8_t* pack, int64_t sourcePack, int64_t outPack, PendingNavigation& pending);
    void place(const uint8_t* data, size_t length, bool stays);
    void resolve(int64_t sourcePack, int64_t outPack);
    void release();
    void flushRun();
    void compactHeld(size_t length);

    OutputStream& output_;
    const uint8_t* runBegin_ = nullptr;
    const uint8_t* runEnd_ = nullptr;
    std::vector<uint8_t> held_;
    size_t heldStart_ = 0; // bytes of held_ before it are written
    std::vector<PendingNavigation> pending_;
    std::vector<int64_t> history_;    // output pack of each recent source pack, -1: left out
    int64_t sourcePack_ = 0;
    int64_t outPack_ = 0;
    int64_t fileFirstPack_ = 0;
    uint64_t unfollowed_ = 0;
};

} // namespace halyard
