#include "model/platform/Files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/platform/SystemError.h"

namespace halyard::platform {

namespace {

[[noreturn]] void fail() {
    throw SystemError(errno);
}

FileStatus statusOf(const struct stat& st) {
    FileStatus status;
    status.kind = S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
    status.identity = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    status.size = int64_t(st.st_size);
    return status;
}

// O_NONBLOCK keeps a FIFO without a reader or writer from holding up the open; it is
// taken off again, as it means nothing to the other kinds of file.
int openWithoutWaiting(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

NativeFile::~NativeFile() {
    if (isOpen())
        ::close(handle_);
}

NativeFile::NativeFile(NativeFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = NoHandle;
}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
    if (this != &other) {
        if (isOpen())
            ::close(handle_);
        handle_ = other.handle_;
        other.handle_ = NoHandle;
    }
    return *this;
}

NativeFile NativeFile::openToRead(const std::string& path) {
    const int fd = openWithoutWaiting(path, O_RDONLY);
    if (fd < 0)
        fail();
    return NativeFile(fd);
}

NativeFile NativeFile::openToWrite(const std::string& path, bool& created) {
    created = false;
    int fd = openWithoutWaiting(path, O_WRONLY);
    if (fd < 0 && errno == ENOENT) {
        fd = openWithoutWaiting(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) // a dangling link, or a file that appeared meanwhile
            fd = openWithoutWaiting(path, O_WRONLY | O_CREAT, 0666);
    }
    if (fd < 0)
        fail();
    return NativeFile(fd);
}

NativeFile NativeFile::openExistingToWrite(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail();
    return NativeFile(fd);
}

FileStatus NativeFile::status() const {
    struct stat st{};
    if (::fstat(handle_, &st) != 0)
        fail();
    return statusOf(st);
}

int64_t NativeFile::size() const {
    return status().size;
}

size_t NativeFile::readAt(void* buffer, size_t count, int64_t offset) {
    size_t total = 0;
    while (total < count) {
        const ssize_t n = ::pread(handle_, static_cast<char*>(buffer) + total, count - total, off_t(offset + total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail();
        if (n == 0)
            break;
        total += size_t(n);
    }
    return total;
}

size_t NativeFile::writeSome(const void* data, size_t count) {
    for (;;) {
        const ssize_t n = ::write(handle_, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail();
        if (n == 0 && count > 0)
            throw SystemError(ENOSPC);
        return size_t(n);
    }
}

void NativeFile::writeAllAt(const void* data, size_t count, int64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(handle_, static_cast<const char*>(data) + done, count - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail();
        if (n == 0)
            throw SystemError(ENOSPC);
        done += size_t(n);
    }
}

void NativeFile::truncate(int64_t size) {
    if (::ftruncate(handle_, off_t(size)) != 0)
        fail();
}

bool NativeFile::tryLock() {
    while (::flock(handle_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            return false;
        fail();
    }
    return true;
}

void NativeFile::adviseSequential() {
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(handle_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

void NativeFile::close() {
    if (!isOpen())
        return;
    const int fd = handle_;
    handle_ = NoHandle;
    if (::close(fd) != 0)
        fail();
}

std::optional<FileStatus> StatusOf(const std::string& path) {
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return statusOf(st);
}

bool CreateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    fail();
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

void RenameReplacing(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        fail();
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::string AbsolutePath(const std::string& path) {
    return Utf8Path(std::filesystem::absolute(FsPath(path)).lexically_normal());
}

} // namespace halyard::platform
