#include "model/SourceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Error.h"

namespace halyard {

SourceFile::SourceFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        errno = EISDIR;
    }
    if (fd_ < 0)
        throw Error("Cannot open file \"" + path + "\". " + std::strerror(errno));
    size_ = st.st_size;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

SourceFile::~SourceFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t SourceFile::read(uint8_t* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        ssize_t n = ::read(fd_, buffer + total, static_cast<size_t>(count - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error("Stream read error");
        }
        if (n == 0)
            break;
        total += n;
    }
    position_ += total;
    return total;
}

void SourceFile::seek(int64_t position) {
    if (::lseek(fd_, position, SEEK_SET) < 0)
        throw Error("Stream seek error");
    position_ = position;
}

} // namespace halyard
