#include "model/OutputStream.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Error.h"

namespace halyard {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    throw Error("Cannot create file \"" + path + "\". " + reason);
}

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

FileId idOf(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

// One output on its way to being opened.
struct PendingOutput {
    std::string path;
    int fd = -1;
    bool created = false; // this call made the file
    bool regular = false;
    bool holdsData = false; // a regular file that is not empty
    FileId id{};
};

// Opens path for writing without truncating it; notes whether the file was created
// here. O_NONBLOCK keeps a FIFO without a reader from blocking the open; it is taken
// off again, as it means nothing to the other kinds of file.
void openWithoutTruncating(PendingOutput& output) {
    constexpr int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    output.fd = ::open(output.path.c_str(), flags);
    if (output.fd < 0 && errno == ENOENT) {
        output.fd = ::open(output.path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        output.created = output.fd >= 0;
        if (output.fd < 0 && errno == EEXIST) // a dangling link, or a file that appeared meanwhile
            output.fd = ::open(output.path.c_str(), flags | O_CREAT, 0666);
    }
    if (output.fd < 0)
        refuse(output.path, std::strerror(errno));
    ::fcntl(output.fd, F_SETFL, ::fcntl(output.fd, F_GETFL) & ~O_NONBLOCK);
    struct stat st{};
    if (::fstat(output.fd, &st) != 0)
        refuse(output.path, std::strerror(errno));
    output.id = idOf(st);
    output.regular = S_ISREG(st.st_mode);
    output.holdsData = output.regular && st.st_size > 0;
}

void lockExclusively(const PendingOutput& output) {
    while (::flock(output.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            refuse(output.path, "It is being written by another process");
        refuse(output.path, std::strerror(errno));
    }
}

// Closes what was opened and removes the files that were created.
void abandon(std::vector<PendingOutput>& outputs) {
    for (PendingOutput& output : outputs) {
        if (output.fd >= 0)
            ::close(output.fd);
        if (output.created)
            ::unlink(output.path.c_str());
    }
}

struct SourceId {
    std::string path;
    FileId id;
};

std::vector<SourceId> idsOfSources(const std::vector<std::string>& sources) {
    std::vector<SourceId> ids;
    for (const std::string& source : sources) {
        struct stat st{};
        if (!source.empty() && ::stat(source.c_str(), &st) == 0)
            ids.push_back({source, idOf(st)});
    }
    return ids;
}

void refuseSource(const std::string& path, const FileId& id, const std::vector<SourceId>& sources) {
    for (const SourceId& source : sources)
        if (source.id == id)
            refuse(path, "It is the source file \"" + source.path + "\"");
}

} // namespace

void RefuseSourceAsOutput(const std::string& path, const std::vector<std::string>& sources) {
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0)
        refuseSource(path, idOf(st), idsOfSources(sources));
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::unique_ptr<OutputStream>> OpenOutputs(const std::vector<std::string>& paths,
                                                       const std::vector<std::string>& sources) {
    IgnoreFileSizeSignal();
    const std::vector<SourceId> sourceIds = idsOfSources(sources);
    std::vector<PendingOutput> pending;
    pending.reserve(paths.size());
    try {
        for (const std::string& path : paths) {
            // A source is refused before it is opened at all: one that cannot be written
            // (a read-only disc) would otherwise give a less telling reason.
            struct stat st{};
            if (::stat(path.c_str(), &st) == 0)
                refuseSource(path, idOf(st), sourceIds);
            PendingOutput& output = pending.emplace_back();
            output.path = path;
            openWithoutTruncating(output);
            refuseSource(path, output.id, sourceIds); // the file may have changed since the stat
            if (!output.regular)
                continue; // a device (/dev/null) or a FIFO holds nothing to lose
            for (size_t earlier = 0; earlier + 1 < pending.size(); ++earlier)
                if (pending[earlier].id == output.id)
                    refuse(path, "It is the same file as \"" + pending[earlier].path + "\"");
            lockExclusively(output);
        }
        // Only a file that holds data is truncated: ext4 (auto_da_alloc) writes back a
        // file truncated to empty when it is closed, which a new or empty file need not wait for.
        for (const PendingOutput& output : pending)
            if (output.holdsData && ::ftruncate(output.fd, 0) != 0)
                refuse(output.path, std::strerror(errno));
    } catch (...) {
        abandon(pending);
        throw;
    }

    std::vector<std::unique_ptr<OutputStream>> outputs;
    outputs.reserve(pending.size());
    for (PendingOutput& output : pending) {
        outputs.emplace_back(new OutputStream(output.path, output.fd));
        output.fd = -1;
    }
    return outputs;
}

OutputStream::OutputStream(const std::string& path, int fd)
    : path_(path), fd_(fd), buffer_(std::make_unique_for_overwrite<uint8_t[]>(BufferSize)) {}

OutputStream::OutputStream(const std::string& path) : path_(path) {
    std::vector<std::unique_ptr<OutputStream>> opened = OpenOutputs({path}, {});
    fd_ = opened.front()->fd_;
    opened.front()->fd_ = -1;
    buffer_ = std::move(opened.front()->buffer_);
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

void OutputStream::throwWriteError(int err) const {
    throw Error("Stream write error \"" + path_ + "\". " + std::strerror(err));
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
            if (errno == EFAULT && data != buffer_.get()) {
                // The bytes were a mapped source's, and some are gone from its file: the
                // kernel will not read them, but a copy here does, as zero bytes, and the
                // source reports the cut (MappedWindow) when its reader confirms them.
                copyThrough(data, count);
                return;
            }
            throwWriteError(errno);
        }
        if (n == 0)
            throwWriteError(ENOSPC);
        data += n;
        count -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
}

void OutputStream::copyThrough(const uint8_t* data, size_t count) {
    while (count > 0) {
        const size_t piece = std::min(count, BufferSize);
        std::memcpy(buffer_.get(), data, piece);
        writeThrough(buffer_.get(), piece);
        data += piece;
        count -= piece;
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

bool HoldStandardDescriptors() {
    bool stdoutOpen = true;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY); // takes the lowest free number: fd
        stdoutOpen = stdoutOpen && fd != STDOUT_FILENO;
    }
    return stdoutOpen;
}

} // namespace halyard
