#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/platform/Files.h"
#include "model/platform/MappedWindow.h"

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

    // The next up to count bytes (not past size()) where they stand, without a copy:
    // data points at them in a window of the file mapped into memory, valid until the
    // next call. A file that cannot be mapped is read into buffer (count bytes) instead,
    // and so are the bytes after a window that was slow to map (the page cache holds
    // them in small pieces, which cost more to map than to copy), up to the next try.
    // Advances the position and returns how many. Raises as read() does when the file is
    // now shorter than those bytes.
    int64_t next(const uint8_t*& data, uint8_t* buffer, int64_t count);
    // Up to count bytes from offset (not past size()), as next() shows them, without
    // moving the position.
    int64_t view(int64_t offset, const uint8_t*& data, uint8_t* buffer, int64_t count);
    // Maps every window from now on, however long it takes (a check of the mapped path).
    void mapEveryWindow() { mapAlways_ = true; }
    // Raises "Stream read error "PATH". ..." when the bytes of the last next() or view()
    // did not all stay in the file while they were read: the file was cut short
    // meanwhile (or its storage failed), and what was gone read as zero bytes.
    void confirm() const;

private:
    [[noreturn]] void throwReadError(const std::string& reason) const;
    [[noreturn]] void throwEndedAt(int64_t end) const;
    int64_t currentSize() const;
    bool mapWindow(int64_t start, int64_t end);

    std::string path_;
    platform::NativeFile file_;
    int64_t size_ = 0;
    int64_t position_ = 0;
    platform::MappedWindow window_;
    bool unmappable_ = false; // mapping failed once: next() reads
    int64_t readUntil_ = 0;   // mapping was slow: the bytes before this are read
    int64_t readWindows_ = 1; // windows to read after the next slow mapping
    bool mapAlways_ = false;
    int64_t lastStart_ = 0;   // the bytes of the last next()
    int64_t lastEnd_ = 0;
};

} // namespace halyard
