#include "rebuild/RebuiltPackWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace halyard {

namespace {
constexpr size_t DsiAudioSyncAt = 1824;      // 8 entries of 2 bytes
constexpr size_t DsiSubpictureSyncAt = 1840; // 32 entries of 4 bytes
constexpr size_t AudioSyncEntries = 8;
constexpr size_t SubpictureSyncEntries = 32;

// An entry's address field, its "none" value and the flag of a target before the
// navigation pack.
struct EntryLayout {
    uint32_t address;
    uint32_t backward;
};
constexpr EntryLayout AudioEntry{0x3FFF, 0x8000};
constexpr EntryLayout SubpictureEntry{0x3FFFFFFF, 0x80000000};

uint32_t readEntry(const uint8_t* at, uint8_t width) {
    uint32_t value = 0;
    for (uint8_t i = 0; i < width; ++i)
        value = value << 8 | at[i];
    return value;
}

void writeEntry(uint8_t* at, uint8_t width, uint32_t value) {
    for (uint8_t i = width; i-- > 0; value >>= 8)
        at[i] = uint8_t(value);
}

const EntryLayout& layoutOf(uint8_t width) { return width == 2 ? AudioEntry : SubpictureEntry; }
} // namespace

RebuiltPackWriter::RebuiltPackWriter(OutputStream& output)
    : output_(output), history_(size_t(FollowPacks) + 1, -1) {
    // Address space only: the pages are touched as packs are held.
    held_.reserve(size_t(FollowPacks + 2) * PackSize);
}

void RebuiltPackWriter::beginFile() { fileFirstPack_ = sourcePack_; }

void RebuiltPackWriter::pack(const uint8_t* data, size_t length, PackFate fate, bool navigation, bool stays) {
    const int64_t sourcePack = sourcePack_++;
    int64_t outPack = -1;
    if (fate == PackFate::Dropped) {
        flushRun(); // the run ends here; its bytes may not outlive the reader's next pack
    } else {
        outPack = outPack_++;
        if (navigation && length == PackSize) {
            std::array<uint8_t, PackSize> copy;
            std::memcpy(copy.data(), data, PackSize);
            PendingNavigation pending;
            if (followAddresses(copy.data(), sourcePack, outPack, pending)) {
                flushRun();
                compactHeld(length);
                pending.heldAt = held_.size();
                pending_.push_back(pending);
            }
            place(copy.data(), length, false);
        } else {
            place(data, length, stays);
        }
    }
    history_[size_t(sourcePack % int64_t(history_.size()))] = outPack;
    if (!pending_.empty())
        resolve(sourcePack, outPack);
}

// Corrects what can be corrected now (targets before the pack, targets out of reach)
// and notes the targets ahead; true when there are any.
bool RebuiltPackWriter::followAddresses(uint8_t* pack, int64_t sourcePack, int64_t outPack,
                                        PendingNavigation& pending) {
    auto follow = [&](size_t offset, uint8_t width) {
        const EntryLayout& layout = layoutOf(width);
        const uint32_t value = readEntry(pack + offset, width);
        const uint32_t address = value & layout.address;
        if (value == 0 || address == layout.address || address == 0)
            return; // no stream, "none", or the navigation pack itself
        if (address > FollowPacks) {
            writeEntry(pack + offset, width, layout.address);
            ++unfollowed_;
            return;
        }
        if (value & layout.backward) {
            const int64_t target = sourcePack - int64_t(address);
            if (target < fileFirstPack_) {
                writeEntry(pack + offset, width, layout.address);
                ++unfollowed_;
                return;
            }
            const int64_t kept = history_[size_t(target % int64_t(history_.size()))];
            writeEntry(pack + offset, width, kept < 0 ? 0 : (value & ~layout.address) | uint32_t(outPack - kept));
            return;
        }
        pending.targets[pending.count++] = {sourcePack + int64_t(address), value, uint16_t(offset), width};
    };
    for (size_t i = 0; i < AudioSyncEntries; ++i)
        follow(DsiAudioSyncAt + 2 * i, 2);
    for (size_t i = 0; i < SubpictureSyncEntries; ++i)
        follow(DsiSubpictureSyncAt + 4 * i, 4);
    pending.outPack = outPack;
    pending.open = pending.count;
    pending.nextTarget = sourcePack + FollowPacks + 1;
    for (unsigned i = 0; i < pending.count; ++i)
        pending.nextTarget = std::min(pending.nextTarget, pending.targets[i].sourcePack);
    return pending.open > 0;
}

// Packs already written leave the front of held_ when the next one would not fit.
void RebuiltPackWriter::compactHeld(size_t length) {
    if (heldStart_ == 0 || held_.size() + length <= held_.capacity())
        return;
    std::memmove(held_.data(), held_.data() + heldStart_, held_.size() - heldStart_);
    held_.resize(held_.size() - heldStart_);
    for (PendingNavigation& pending : pending_)
        pending.heldAt -= heldStart_;
    heldStart_ = 0;
}

void RebuiltPackWriter::place(const uint8_t* data, size_t length, bool stays) {
    if (!pending_.empty()) {
        compactHeld(length);
        held_.insert(held_.end(), data, data + length);
        return;
    }
    if (!stays) {
        flushRun();
        output_.write(data, length);
        return;
    }
    if (data != runEnd_) {
        flushRun();
        runBegin_ = data;
    }
    runEnd_ = data + length;
}

void RebuiltPackWriter::flushRun() {
    if (runEnd_ != runBegin_)
        output_.write(runBegin_, size_t(runEnd_ - runBegin_));
    runBegin_ = runEnd_ = nullptr;
}

// The source pack `sourcePack` has come by, written as output pack `outPack` (-1: left
// out): the entries that point at it get their addresses.
void RebuiltPackWriter::resolve(int64_t sourcePack, int64_t outPack) {
    for (PendingNavigation& pending : pending_) {
        if (pending.nextTarget != sourcePack)
            continue;
        pending.nextTarget = std::numeric_limits<int64_t>::max();
        for (unsigned i = 0; i < pending.count; ++i) {
            Target& target = pending.targets[i];
            if (target.sourcePack == sourcePack) {
                const uint32_t address = layoutOf(target.width).address;
                const uint32_t value =
                    outPack < 0 ? 0 : (target.value & ~address) | uint32_t(outPack - pending.outPack);
                writeEntry(&held_[pending.heldAt + target.offset], target.width, value);
                target.sourcePack = -1;
                --pending.open;
            } else if (target.sourcePack >= 0) {
                pending.nextTarget = std::min(pending.nextTarget, target.sourcePack);
            }
        }
    }
    release();
}

// The packs held before the first navigation pack that still waits go out.
void RebuiltPackWriter::release() {
    size_t done = 0;
    while (done < pending_.size() && pending_[done].open == 0)
        ++done;
    if (done == 0)
        return;
    pending_.erase(pending_.begin(), pending_.begin() + long(done));
    const size_t until = pending_.empty() ? held_.size() : pending_.front().heldAt;
    output_.write(held_.data() + heldStart_, until - heldStart_);
    heldStart_ = until;
    if (pending_.empty()) {
        held_.clear();
        heldStart_ = 0;
    }
}

void RebuiltPackWriter::endOfWindow() { flushRun(); }

void RebuiltPackWriter::endOfFile() {
    for (PendingNavigation& pending : pending_) {
        for (unsigned i = 0; i < pending.count; ++i) {
            Target& target = pending.targets[i];
            if (target.sourcePack < 0)
                continue;
            writeEntry(&held_[pending.heldAt + target.offset], target.width, layoutOf(target.width).address);
            target.sourcePack = -1;
            ++unfollowed_;
        }
        pending.open = 0;
    }
    release();
    flushRun();
}

} // namespace halyard
