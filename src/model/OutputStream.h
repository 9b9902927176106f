#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace halyard {

// An output file created for writing (an existing file is replaced), buffered so that
// small payload chunks cost no system call each. Every failure to get bytes onto the
// file, in write, flush or close, raises "Stream write error"; written() counts only
// bytes that reached the file.
class OutputStream {
public:
    static constexpr size_t BufferSize = 256 * 1024;

    // Raises "Cannot create file "PATH". REASON".
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
    void writeThrough(const uint8_t* data, size_t count);

    std::string path_;
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;
};

} // namespace halyard
