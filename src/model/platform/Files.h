#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/platform/Platform.h"

namespace halyard::platform {

enum class FileKind { Regular, Directory, Other };

// What tells one file from every other while it exists: the device and inode on POSIX,
// the volume serial number and file index on Windows. Two names that link to one file
// have the same identity.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct FileStatus {
    FileKind kind = FileKind::Other;
    FileIdentity identity;
    int64_t size = 0;
};

// An open file. Failures raise SystemError.
class NativeFile {
public:
    NativeFile() = default;
    // Closes, without a word on a failure: call close() to learn of one.
    ~NativeFile();
    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    // Opens path to read. A FIFO without a writer does not hold the call up. A folder
    // opens on POSIX (status() tells it) and raises EISDIR on Windows. Others may
    // write, rename and remove the file meanwhile.
    static NativeFile openToRead(const std::string& path);
    // Opens path to write without truncating it, and creates it when there is nothing of
    // that name; created says whether this call made the file.
    static NativeFile openToWrite(const std::string& path, bool& created);
    // Opens a file that exists to write, without truncating it.
    static NativeFile openExistingToWrite(const std::string& path);

    bool isOpen() const { return handle_ != NoHandle; }
    NativeHandle handle() const { return handle_; }
    FileStatus status() const;
    // The file's size now (it may have changed since it was opened).
    int64_t size() const;

    // Up to count bytes from offset; fewer only where the file ends (0 at its end).
    size_t readAt(void* buffer, size_t count, int64_t offset);
    // Writes at the file's position and returns how many bytes of count were written
    // (at least one); a disk that takes none raises ENOSPC.
    size_t writeSome(const void* data, size_t count);
    // Writes all of count bytes at offset.
    void writeAllAt(const void* data, size_t count, int64_t offset);
    void truncate(int64_t size);
    // Takes an exclusive lock on the file without waiting: false when another open
    // file holds one. Every run that writes a file takes it, so two runs are kept apart;
    // readers are not held up. Released when the file is closed.
    bool tryLock();
    // The file will be read from start to end.
    void adviseSequential();
    // Closes; raises what the system reports of a failure (a write that did not reach a
    // network file system).
    void close();

private:
    explicit NativeFile(NativeHandle handle) : handle_(handle) {}
    NativeHandle handle_ = NoHandle;
};

// The file a path names, links followed; nothing when it cannot be reached.
std::optional<FileStatus> StatusOf(const std::string& path);
bool Exists(const std::string& path);
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);

// Makes a folder; false when the name exists already. Raises SystemError.
bool CreateFolder(const std::string& path);
// Makes a folder and the folders above it that are missing. Raises SystemError.
void CreateFolders(const std::string& path);
// Removes a file, or an empty folder; false when it could not be removed.
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);
// Gives the file at from the name to, in place of a file of that name (in one step
// where the system can). Raises SystemError.
void RenameReplacing(const std::string& from, const std::string& to);
// The names in a folder (without "." and ".."), in no particular order; none when the
// folder cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);
// The path from the root, "." and ".." taken out, with the system's separators.
std::string AbsolutePath(const std::string& path);

// A std::filesystem path of a UTF-8 path, and back.
std::filesystem::path FsPath(std::string_view utf8);
std::string Utf8Path(const std::filesystem::path& path);

} // namespace halyard::platform
