#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/SourceFile.h"

namespace halyard {

// Reads the whole packs of a source: 2048 bytes that begin with 00 00 01 BA. While
// packs follow each other it takes them 2048 bytes at a time. A pack counts as whole
// when the next one (or the end of the file) follows it; where none does, sync is
// lost, and the reader looks for the next start code that begins a whole pack. The
// bytes in between are no pack: they are skipped and counted, never handed on, so that
// the packs after them keep their places. A pack followed by stray bytes is still
// whole and handed on; one that the next pack cuts short is skipped with them.
//
//   while (reader.fill())
//       while (reader.next(pack)) ...   // packs of the window, until it needs more bytes
//
// The window is the source's bytes where it shows them (mapped, not copied). The packs
// of one window lie one after another in memory, as in the file, as long as none is
// skipped, so a caller sees runs of them; a pack is valid until the next fill().
class PackReader {
public:
    struct Pack {
        const uint8_t* data = nullptr;
        size_t length = 0; // 2048, or less for a last piece that begins with the start code
        int64_t end = 0;   // file offset after the pack
        bool inWindow = true; // data lies in the window (not in a copy held aside)
    };

    explicit PackReader(SourceFile& source);

    // Reads the next block of the source into the window, after what is left of it;
    // false once the source is read to its end and the window given out.
    bool fill();
    // The next pack of the window; false when the window needs another fill().
    bool next(Pack& pack);

    // Bytes skipped so far as no pack, and the file offset of the first of them.
    uint64_t skippedBytes() const { return skipped_; }
    int64_t firstSkipped() const { return firstSkipped_; }

private:
    bool startsPack(size_t at) const;
    bool wholeAt(size_t at) const;
    void skip(int64_t from, int64_t to);
    int64_t offsetOf(size_t at) const { return base_ + int64_t(at); }

    SourceFile& source_;
    const uint8_t* window_ = nullptr; // the bytes from base_ to base_ + end_
    std::vector<uint8_t> buffer_;     // where they are read when the source cannot be mapped
    size_t begin_ = 0; // next byte to look at
    size_t end_ = 0;   // after the last byte read
    int64_t base_ = 0; // file offset of window_[0]
    bool atEnd_ = false;

    // Lost sync: looking for a whole pack from `searchFrom_`, since file offset `lostAt_`.
    bool searching_ = false;
    size_t searchFrom_ = 0;
    int64_t lostAt_ = 0;
    // A pack whose successor is not where it should be, held until it is clear whether
    // the next whole pack begins after it (it is whole) or inside it (it is cut short).
    std::vector<uint8_t> held_;
    int64_t heldAt_ = -1;
    bool giveHeld_ = false;

    uint64_t skipped_ = 0;
    int64_t firstSkipped_ = -1;
};

} // namespace halyard
