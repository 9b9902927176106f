#include "model/SourceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Error.h"

namespace halyard {

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

// A window from the huge page boundary at or before the position to the one after
// `end`, at least one huge page long, not past size().
bool SourceFile::mapWindow(int64_t end) {
    constexpr int64_t Alignment = MappedWindow::Alignment;
    const int64_t start = position_ / Alignment * Alignment;
    const int64_t stop = std::min(std::max((end + Alignment - 1) / Alignment * Alignment, start + Alignment), size_);
    return window_.map(fd_, start, stop - start);
}

int64_t SourceFile::next(const uint8_t*& data, uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - position_, 0, count);
    lastStart_ = lastEnd_ = position_;
    if (count == 0)
        return 0;
    const int64_t end = position_ + count;
    if (!unmappable_) {
        // A file that is shorter now than these bytes ends where a read would find its end.
        const int64_t now = currentSize();
        if (now < end)
            throwEndedAt(std::max(now, position_));
        const bool inWindow = window_.data() != nullptr && position_ >= window_.offset() &&
                              end <= window_.offset() + window_.length();
        if (inWindow || mapWindow(end)) {
            data = window_.data() + (position_ - window_.offset());
            position_ = end;
            lastEnd_ = end;
            return count;
        }
        unmappable_ = true; // a file system without mappings: read from here on
    }
    data = buffer;
    const int64_t got = read(buffer, count);
    lastEnd_ = position_;
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
