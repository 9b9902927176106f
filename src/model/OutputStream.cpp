#include "model/OutputStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "model/Error.h"

namespace halyard {

namespace {
[[noreturn]] void throwWriteError(int /*err*/) {
    throw Error("Stream write error");
}
} // namespace

OutputStream::OutputStream(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0)
        throw Error("Cannot create file \"" + path + "\". " + std::strerror(errno));
    buffer_ = std::make_unique<uint8_t[]>(BufferSize);
}

OutputStream::~OutputStream() {
    if (fd_ >= 0) {
        try {
            flush();
        } catch (const Error&) {
            // The owner closes explicitly to learn of this; a destructor cannot report it.
        }
        ::close(fd_);
    }
}

void OutputStream::write(const uint8_t* data, size_t count) {
    if (fd_ < 0)
        throwWriteError(EBADF);
    if (count > BufferSize - used_) {
        flush();
        if (count >= BufferSize) {
            writeThrough(data, count);
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, data, count);
    used_ += count;
}

void OutputStream::flush() {
    if (used_ == 0)
        return;
    size_t pending = used_;
    used_ = 0; // what fails to reach the file is not offered again
    writeThrough(buffer_.get(), pending);
}

void OutputStream::writeThrough(const uint8_t* data, size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd_, data, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwWriteError(errno);
        }
        if (n == 0)
            throwWriteError(ENOSPC);
        data += n;
        count -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
}

void OutputStream::close() {
    if (fd_ < 0)
        return;
    int fd = fd_;
    try {
        flush();
    } catch (...) {
        ::close(fd);
        fd_ = -1;
        throw;
    }
    fd_ = -1;
    if (::close(fd) != 0)
        throwWriteError(errno);
}

} // namespace halyard
