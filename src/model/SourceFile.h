#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/platform/Files.h"

namespace halyard {

// A source file opened read-only, with 64-bit size and position. Only a regular file
// is a source: a FIFO or a device has no size to read to, and a directory no bytes.
class SourceFile {
public:
    // Raises "Cannot open file "PATH". REASON" when the file cannot be opened or is not
    // a regular file.
    explicit SourceFile(const std::string& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // The size when the file was opened; reads end there.
    int64_t size() const { return size_; }
    int64_t position() const { return position_; }
    const std::string& path() const { return path_; }

    // Reads up to count bytes at the current position, but not past size(); returns
    // how many were read. A file that ends before size() (it shrank since it was
    // opened) raises "Stream read error "PATH". ...", as does a failed read.
    int64_t read(uint8_t* buffer, int64_t count);
    void seek(int64_t position);

private:
    [[noreturn]] void throwReadError(const std::string& reason) const;

    std::string path_;
    platform::NativeFile file_;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

} // namespace halyard
