#include "model/SourceFile.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Error.h"

namespace halyard {

namespace {
constexpr int64_t Mebibyte = 1024 * 1024;
// Mapping a window costs next to nothing where the page cache holds the file in folios
// of a huge page (as the kernel reads a file ahead, into a 2 MiB window in some 6
// microseconds here) and more than copying it where it holds it in small ones (a file
// just written or copied in: some 150 microseconds). A window that takes longer than
// this a mebibyte to map has the bytes after it read by copy instead, for one window's
// length, then two, four ... up to MaxReadWindows while the tries stay slow.
constexpr auto SlowMapping = std::chrono::microseconds(20);
constexpr int64_t MaxReadWindows = 16;

// The processor time this thread has used, which another process's load does not add to.
std::chrono::nanoseconds threadTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}
} // namespace

SourceFile::SourceFile(const std::string& path) : path_(path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it can be refused.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st{};
    std::string reason = fd_ < 0 ? std::strerror(errno) : "";
    if (fd_ >= 0 && ::fstat(fd_, &st) != 0)
        reason = std::strerror(errno);
    else if (fd_ >= 0 && S_ISDIR(st.st_mode))
        reason = std::strerror(EISDIR);
    else if (fd_ >= 0 && !S_ISREG(st.st_mode))
        reason = "It is not a regular file";
    if (!reason.empty()) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        throw Error("Cannot open file \"" + path + "\". " + reason);
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = st.st_size;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

SourceFile::~SourceFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void SourceFile::throwReadError(const std::string& reason) const {
    throw Error("Stream read error \"" + path_ + "\". " + reason);
}

void SourceFile::throwEndedAt(int64_t end) const {
    throwReadError("The file ends at byte " + std::to_string(end) + ", before its size of " + std::to_string(size_) +
                   " bytes");
}

int64_t SourceFile::read(uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - position_, 0, count);
    int64_t total = 0;
    while (total < count) {
        ssize_t n = ::pread(fd_, buffer + total, static_cast<size_t>(count - total), off_t(position_ + total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwReadError(std::strerror(errno));
        }
        if (n == 0)
            throwEndedAt(position_ + total);
        total += n;
    }
    position_ += total;
    return total;
}

void SourceFile::seek(int64_t position) {
    if (::lseek(fd_, position, SEEK_SET) < 0)
        throw Error("Stream seek error \"" + path_ + "\". " + std::strerror(errno));
    position_ = position;
}

int64_t SourceFile::currentSize() const {
    struct stat st{};
    if (::fstat(fd_, &st) != 0)
        throwReadError(std::strerror(errno));
    return st.st_size;
}

// A window from the huge page boundary at or before `start` to the one after `end`, at
// least one huge page long, not past size().
bool SourceFile::mapWindow(int64_t start, int64_t end) {
    constexpr int64_t Alignment = MappedWindow::Alignment;
    const int64_t from = start / Alignment * Alignment;
    const int64_t stop = std::min(std::max((end + Alignment - 1) / Alignment * Alignment, from + Alignment), size_);
    return window_.map(fd_, from, stop - from);
}

int64_t SourceFile::next(const uint8_t*& data, uint8_t* buffer, int64_t count) {
    const int64_t got = view(position_, data, buffer, count);
    position_ += got;
    return got;
}

int64_t SourceFile::view(int64_t offset, const uint8_t*& data, uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - offset, 0, count);
    lastStart_ = lastEnd_ = offset;
    if (count == 0)
        return 0;
    const int64_t end = offset + count;
    if (!unmappable_ && offset >= readUntil_) {
        // A file that is shorter now than these bytes ends where a read would find its end.
        const int64_t now = currentSize();
        if (now < end)
            throwEndedAt(std::max(now, offset));
        const bool inWindow =
            window_.data() != nullptr && offset >= window_.offset() && end <= window_.offset() + window_.length();
        bool mapped = inWindow;
        if (!inWindow) {
            const auto start = threadTime();
            mapped = mapWindow(offset, end);
            const auto took = threadTime() - start;
            if (mapped && !mapAlways_ && took > SlowMapping * (window_.length() / Mebibyte + 1)) {
                readUntil_ = window_.offset() + window_.length() + readWindows_ * MappedWindow::Alignment;
                readWindows_ = std::min(readWindows_ * 2, MaxReadWindows);
            } else {
                readWindows_ = 1;
            }
        }
        if (mapped) {
            data = window_.data() + (offset - window_.offset());
            lastEnd_ = end;
            return count;
        }
        unmappable_ = true; // a file system without mappings: read from here on
    }
    if (window_.data() != nullptr && end > window_.offset() + window_.length())
        window_.unmap(); // read from here on, up to the next try
    const int64_t position = position_;
    position_ = offset;
    data = buffer;
    const int64_t got = read(buffer, count);
    position_ = position;
    lastEnd_ = offset + got;
    return got;
}

void SourceFile::confirm() const {
    if (!window_.cut())
        return;
    const int64_t now = currentSize();
    if (now < lastEnd_)
        throwEndedAt(std::max(now, lastStart_));
    throwReadError(std::strerror(EIO)); // the file is whole: its storage failed
}

} // namespace halyard
