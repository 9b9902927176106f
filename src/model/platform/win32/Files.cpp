#include "model/platform/Files.h"

#include <algorithm>
#include <cerrno>

#include "model/platform/win32/Win32.h"

namespace halyard::platform {

using namespace win32;

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile take a 32-bit count: larger requests go in pieces.
constexpr size_t LargestCall = size_t(1) << 30;

HANDLE open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return ::CreateFileW(LongPath(path).c_str(), access, ShareAll, nullptr, disposition, flags, nullptr);
}

// A failed open of a folder says "access denied"; the program says what it is.
[[noreturn]] void failToOpen(const std::string& path) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            throw SystemError(EISDIR);
    }
    throw ErrorOf(error);
}

OVERLAPPED at(int64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = DWORD(uint64_t(offset) & 0xFFFFFFFF);
    overlapped.OffsetHigh = DWORD(uint64_t(offset) >> 32);
    return overlapped;
}

FileStatus statusOf(HANDLE handle) {
    FileStatus status;
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return status; // a device (NUL, a console) or a pipe
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info))
        ThrowLastError();
    status.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
    status.identity = {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    status.size = int64_t(uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
    return status;
}

} // namespace

NativeFile::~NativeFile() {
    if (isOpen())
        ::CloseHandle(handle_);
}

NativeFile::NativeFile(NativeFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = NoHandle;
}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
    if (this != &other) {
        if (isOpen())
            ::CloseHandle(handle_);
        handle_ = other.handle_;
        other.handle_ = NoHandle;
    }
    return *this;
}

NativeFile NativeFile::openToRead(const std::string& path) {
    const HANDLE handle = open(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE)
        failToOpen(path);
    return NativeFile(handle);
}

NativeFile NativeFile::openToWrite(const std::string& path, bool& created) {
    constexpr DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    created = false;
    HANDLE handle = open(path, access, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        handle = open(path, access, CREATE_NEW);
        created = handle != INVALID_HANDLE_VALUE;
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) // it appeared meanwhile
            handle = open(path, access, OPEN_ALWAYS);
    }
    if (handle == INVALID_HANDLE_VALUE)
        failToOpen(path);
    return NativeFile(handle);
}

NativeFile NativeFile::openExistingToWrite(const std::string& path) {
    const HANDLE handle = open(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        failToOpen(path);
    return NativeFile(handle);
}

FileStatus NativeFile::status() const {
    return statusOf(handle_);
}

int64_t NativeFile::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_, &size))
        ThrowLastError();
    return size.QuadPart;
}

size_t NativeFile::readAt(void* buffer, size_t count, int64_t offset) {
    size_t total = 0;
    while (total < count) {
        OVERLAPPED where = at(offset + int64_t(total));
        DWORD got = 0;
        if (!::ReadFile(handle_, static_cast<char*>(buffer) + total, DWORD(std::min(count - total, LargestCall)), &got,
                        &where)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            ThrowLastError();
        }
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

size_t NativeFile::writeSome(const void* data, size_t count) {
    DWORD written = 0;
    if (!::WriteFile(handle_, data, DWORD(std::min(count, LargestCall)), &written, nullptr))
        ThrowLastError();
    if (written == 0 && count > 0)
        throw SystemError(ENOSPC);
    return written;
}

void NativeFile::writeAllAt(const void* data, size_t count, int64_t offset) {
    size_t done = 0;
    while (done < count) {
        OVERLAPPED where = at(offset + int64_t(done));
        DWORD written = 0;
        if (!::WriteFile(handle_, static_cast<const char*>(data) + done, DWORD(std::min(count - done, LargestCall)),
                         &written, &where))
            ThrowLastError();
        if (written == 0)
            throw SystemError(ENOSPC);
        done += written;
    }
}

void NativeFile::truncate(int64_t size) {
    LARGE_INTEGER position{}, target{};
    target.QuadPart = size;
    if (!::SetFilePointerEx(handle_, LARGE_INTEGER{}, &position, FILE_CURRENT) ||
        !::SetFilePointerEx(handle_, target, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle_) ||
        !::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN))
        ThrowLastError();
}

// Windows locks ranges of bytes, and a locked range cannot be read or written through
// another handle. The lock is taken on one byte far past any data instead, so that it
// keeps writers that take it apart, as an advisory lock does, and holds up no reader.
bool NativeFile::tryLock() {
    OVERLAPPED where = at(INT64_MAX - 1);
    if (::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
        return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
        return false;
    throw ErrorOf(error);
}

void NativeFile::adviseSequential() {} // asked for when the file was opened

void NativeFile::close() {
    if (!isOpen())
        return;
    const HANDLE handle = handle_;
    handle_ = NoHandle;
    if (!::CloseHandle(handle))
        ThrowLastError();
}

std::optional<FileStatus> StatusOf(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    // FILE_FLAG_BACKUP_SEMANTICS opens a folder too; links are followed.
    const HANDLE handle = open(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<FileStatus> status;
    try {
        status = statusOf(handle);
    } catch (const SystemError&) {
    }
    ::CloseHandle(handle);
    return status;
}

bool CreateFolder(const std::string& path) {
    if (::CreateDirectoryW(LongPath(path).c_str(), nullptr))
        return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return false;
    throw ErrorOf(error);
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(LongPath(path).c_str()) != 0;
}

bool RemoveEmptyFolder(const std::string& path) {
    return ::RemoveDirectoryW(LongPath(path).c_str()) != 0;
}

void RenameReplacing(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        ThrowLastError();
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::wstring pattern = LongPath(folder);
    if (!pattern.empty() && pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(Utf8(name));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}

std::string AbsolutePath(const std::string& path) {
    const std::wstring full = FullPath(Wide(path));
    return full.empty() ? path : Utf8(full);
}

} // namespace halyard::platform
