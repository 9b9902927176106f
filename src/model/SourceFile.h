#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace halyard {

// A source file opened read-only, with 64-bit size and position.
class SourceFile {
public:
    // Raises "Cannot open file "PATH". REASON" when the file cannot be opened.
    explicit SourceFile(const std::string& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    int64_t size() const { return size_; }
    int64_t position() const { return position_; }
    const std::string& path() const { return path_; }

    // Reads up to count bytes at the current position; returns how many were read
    // (less than count only at the end of the file). Raises "Stream read error".
    int64_t read(uint8_t* buffer, int64_t count);
    void seek(int64_t position);

private:
    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

} // namespace halyard
