#pragma once
#include <chrono>
#include <cstdint>

#include "model/platform/Platform.h"

namespace halyard::platform {

// A window of a file mapped read-only into memory, so that its bytes are read where
// the page cache holds them instead of being copied out first.
//
// A mapped file that shrinks under the window would end the process with SIGBUS at the
// first byte read past its new end. A window is guarded against that: such a page, and
// the rest of the window after it, reads as zero bytes instead, and cut() says that it
// happened. A read error of the file's storage (which a mapping also reports as SIGBUS)
// is handled the same way. Only this unit knows how the mapping and the signal are
// done; the process has at most a few windows at a time.
//
// Windows maps no window: map() says no, and the file is read by copy. A view there
// reports a page it cannot read (a file cut short on a share, storage that fails) as an
// in-page exception, not as a signal whose handler can put zero bytes in the page's
// place and let the read go on; copying costs little beside the rest of a run.
class MappedWindow {
public:
    // Window offsets are multiples of this: the size of a huge page, so that a file
    // cached in large folios is mapped with huge page entries.
    static constexpr int64_t Alignment = 2 * 1024 * 1024;

    MappedWindow() = default;
    ~MappedWindow();
    MappedWindow(const MappedWindow&) = delete;
    MappedWindow& operator=(const MappedWindow&) = delete;

    // Maps length bytes of the open file, from offset (a multiple of Alignment), in
    // place of the window mapped before. False when the file cannot be mapped; no
    // window is mapped then.
    bool map(NativeHandle file, int64_t offset, int64_t length);
    void unmap();

    const uint8_t* data() const { return data_; }
    int64_t offset() const { return offset_; }
    int64_t length() const { return length_; }
    // Some of the window's bytes were gone from the file when they were read.
    bool cut() const;

private:
    const uint8_t* data_ = nullptr;
    int64_t offset_ = 0;
    int64_t length_ = 0;
    int guard_ = -1;
};

// The processor time this thread has used, which another process's load does not add to.
std::chrono::nanoseconds ThreadCpuTime();

} // namespace halyard::platform
