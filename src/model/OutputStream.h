#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/platform/Files.h"

namespace halyard {

// An output file open for writing, buffered so that small payload chunks cost no
// system call each. It holds an exclusive lock (flock on POSIX, LockFileEx on Windows)
// on a regular file until it is closed, so that a second run cannot write into it
// meanwhile. Every failure to get
// bytes onto the file, in write, flush or close, raises
// "Stream write error "PATH". REASON"; written() counts only bytes that reached the file.
class OutputStream {
public:
    static constexpr size_t BufferSize = 256 * 1024;

    // Creates one output, as OpenOutputs does for a set of one without sources.
    explicit OutputStream(const std::string& path);
    // Closes without raising; call close() first to learn of a failed final flush.
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void write(const uint8_t* data, size_t count);
    void flush();
    void close();

    const std::string& path() const { return path_; }
    uint64_t written() const { return written_; }

private:
    friend std::vector<std::unique_ptr<OutputStream>> OpenOutputs(const std::vector<std::string>& paths,
                                                                  const std::vector<std::string>& sources);
    OutputStream(const std::string& path, platform::NativeFile file);

    [[noreturn]] void throwWriteError(const std::string& reason) const;
    void writeThrough(const uint8_t* data, size_t count);
    void copyThrough(const uint8_t* data, size_t count);

    std::string path_;
    platform::NativeFile file_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;
};

// Opens the outputs of a job so that a refusal or a failure touches nothing that
// existed: every path is opened (or created) without truncating it, checked and locked,
// and only when all of them are open are they truncated to empty. Refused, with
// nothing of an earlier run lost:
//   - an output that is one of the job's source files (the same file: the same device
//     and inode, or volume and file index; links followed):
//     "Cannot create file "OUT". It is the source file "SRC"";
//   - an output that is the same file as an earlier output of the set:
//     "Cannot create file "OUT". It is the same file as "EARLIER"";
//   - an output locked by another run: "Cannot create file "OUT". It is being written
//     by another process";
//   - an output that cannot be opened: "Cannot create file "OUT". REASON".
// On a refusal every output already opened is closed, and the files that this call
// created (and that so held nothing before) are removed again. An output that is not a
// regular file (the null device, a FIFO) is opened as it is: it is neither locked nor
// truncated, and may be given more than once.
std::vector<std::unique_ptr<OutputStream>> OpenOutputs(const std::vector<std::string>& paths,
                                                       const std::vector<std::string>& sources);

// Raises "Cannot create file "PATH". It is the source file "SRC"" when path (links
// followed) is one of the sources: the check OpenOutputs makes, for a file that is to
// take a name (a rename) rather than be opened.
void RefuseSourceAsOutput(const std::string& path, const std::vector<std::string>& sources);

} // namespace halyard
