#include "rebuild/PackReader.h"

#include <algorithm>
#include <cstring>

#include "model/RunState.h"

namespace halyard {

namespace {
constexpr size_t PackSize = 2048;
constexpr uint8_t PackStartCode[4] = {0x00, 0x00, 0x01, 0xBA};
// A pack and the start code after it: what it takes to know that a pack is whole.
constexpr size_t Lookahead = PackSize + sizeof PackStartCode;

// The first pack start code in the bytes, or null: memchr finds its last byte, 0xBA,
// which stands alone far more often than the 00 00 01 before it.
const uint8_t* findPackStartCode(const uint8_t* bytes, size_t size) {
    constexpr size_t Last = sizeof PackStartCode - 1;
    for (size_t at = Last; at < size;) {
        const auto* found = static_cast<const uint8_t*>(std::memchr(bytes + at, PackStartCode[Last], size - at));
        if (found == nullptr)
            return nullptr;
        if (std::memcmp(found - Last, PackStartCode, Last) == 0)
            return found - Last;
        at = size_t(found - bytes) + 1;
    }
    return nullptr;
}
} // namespace

PackReader::PackReader(SourceFile& source) : source_(source), buffer_(size_t(BlockSize) + Lookahead) {
    base_ = source.position();
    held_.reserve(PackSize);
}

bool PackReader::startsPack(size_t at) const {
    return at + sizeof PackStartCode <= end_ && std::memcmp(window_ + at, PackStartCode, sizeof PackStartCode) == 0;
}

// A pack followed by the next one, or by the end of the file (with fewer than 4 bytes
// after it: no room for another pack's start code).
bool PackReader::wholeAt(size_t at) const {
    if (!startsPack(at))
        return false;
    if (at + Lookahead > end_)
        return atEnd_ && at + PackSize <= end_;
    return startsPack(at + PackSize);
}

void PackReader::skip(int64_t from, int64_t to) {
    if (to <= from)
        return;
    skipped_ += uint64_t(to - from);
    if (firstSkipped_ < 0)
        firstSkipped_ = from;
}

bool PackReader::fill() {
    // The bytes of the window given out were in the file while they were judged.
    source_.confirm();
    if (atEnd_)
        return false;
    // The next window begins with what is left of this one (less than a pack and a start
    // code). A block and the start code after it: in a file of whole packs the window
    // then ends 4 bytes into the pack after a block's worth, all of them judged, so that
    // the packs kept in a row leave in writes of a block each, at block boundaries of the
    // output.
    const size_t keep = end_ - begin_;
    base_ += int64_t(begin_);
    if (searching_)
        searchFrom_ -= begin_;
    begin_ = 0;
    const int64_t want = int64_t(size_t(BlockSize) + sizeof PackStartCode);
    end_ = size_t(source_.view(base_, window_, buffer_.data(), want));
    if (end_ == keep || base_ + int64_t(end_) >= source_.size())
        atEnd_ = true;
    return true;
}

bool PackReader::next(Pack& pack) {
    for (;;) {
        if (giveHeld_) {
            giveHeld_ = false;
            pack = {held_.data(), PackSize, heldAt_ + int64_t(PackSize), false};
            heldAt_ = -1;
            return true;
        }
        if (searching_) {
            size_t at = searchFrom_;
            size_t found = end_;
            while (at < end_) {
                const uint8_t* code = findPackStartCode(window_ + at, end_ - at);
                if (!code)
                    break;
                const size_t candidate = size_t(code - window_);
                if (!atEnd_ && candidate + Lookahead > end_) {
                    searchFrom_ = begin_ = candidate; // judged after the next fill
                    return false;
                }
                if (wholeAt(candidate)) {
                    found = candidate;
                    break;
                }
                at = candidate + 1;
            }
            if (found == end_ && !atEnd_) {
                // No start code yet; the last three bytes may begin one.
                searchFrom_ = begin_ = std::max(at, end_ - std::min(end_, sizeof PackStartCode - 1));
                return false;
            }
            // Sync again at `found` (or the file's end): a held pack is whole when the
            // next pack begins at or after its end, and cut short otherwise.
            const int64_t resume = offsetOf(found);
            if (heldAt_ >= 0 && resume >= heldAt_ + int64_t(PackSize)) {
                skip(heldAt_ + int64_t(PackSize), resume);
                giveHeld_ = true;
            } else if (heldAt_ >= 0) {
                skip(heldAt_, resume);
                heldAt_ = -1;
            } else {
                skip(lostAt_, resume);
            }
            searching_ = false;
            begin_ = found;
            continue;
        }

        const size_t available = end_ - begin_;
        if (available == 0 || (!atEnd_ && available < Lookahead))
            return false;
        if (startsPack(begin_)) {
            if (available <= PackSize) { // the file's last piece
                pack = {window_ + begin_, available, offsetOf(end_), true};
                begin_ = end_;
                return true;
            }
            if (wholeAt(begin_)) {
                pack = {window_ + begin_, PackSize, offsetOf(begin_ + PackSize), true};
                begin_ += PackSize;
                return true;
            }
            held_.assign(window_ + begin_, window_ + begin_ + PackSize);
            heldAt_ = offsetOf(begin_);
        }
        searching_ = true;
        lostAt_ = offsetOf(begin_);
        searchFrom_ = begin_ + 1;
    }
}

} // namespace halyard
