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

int64_t SourceFile::read(uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - position_, 0, count);
    int64_t total = 0;
    while (total < count) {
        ssize_t n = ::read(fd_, buffer + total, static_cast<size_t>(count - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwReadError(std::strerror(errno));
        }
        if (n == 0)
            throwReadError("The file ends at byte " + std::to_string(position_ + total) + ", before its size of " +
                           std::to_string(size_) + " bytes");
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

} // namespace halyard
