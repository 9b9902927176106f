#include "model/SourceFile.h"

#include <algorithm>
#include <chrono>
#include <cerrno>

#include "model/Error.h"
#include "model/platform/SystemError.h"

namespace halyard {

namespace {
constexpr int64_t Mebibyte = 1024 * 1024;
// Mapping a window costs next to nothing where the page cache holds the file in folios
// of a huge page (as the kernel reads a file ahead, into a 2 MiB window in some 6
// microseconds here) and more than copying it where it holds it in small ones (a file
// just written or copied in: some 150 microseconds). A window that takes longer than
// this a mebibyte to map has the bytes after it read by copy instead, for one window's
// length, then two, four ... up to MaxReadWindows while the tries stay slow.
constexpr auto SlowMapping = std::chrono::microseconds(20);
constexpr int64_t MaxReadWindows = 16;
} // namespace

SourceFile::SourceFile(const std::string& path) : path_(path) {
    std::string reason;
    try {
        file_ = platform::NativeFile::openToRead(path);
        const platform::FileStatus status = file_.status();
        if (status.kind == platform::FileKind::Directory)
            reason = platform::ErrorText(EISDIR);
        else if (status.kind != platform::FileKind::Regular)
            reason = "It is not a regular file";
        size_ = status.size;
    } catch (const platform::SystemError& error) {
        reason = error.what();
    }
    if (!reason.empty()) {
        file_ = platform::NativeFile();
        throw Error("Cannot open file \"" + path + "\". " + reason);
    }
    file_.adviseSequential();
}

SourceFile::~SourceFile() = default;

void SourceFile::throwReadError(const std::string& reason) const {
    throw Error("Stream read error \"" + path_ + "\". " + reason);
}

void SourceFile::throwEndedAt(int64_t end) const {
    throwReadError("The file ends at byte " + std::to_string(end) + ", before its size of " + std::to_string(size_) +
                   " bytes");
}

int64_t SourceFile::read(uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - position_, 0, count);
    size_t total = 0;
    try {
        total = file_.readAt(buffer, size_t(count), position_);
    } catch (const platform::SystemError& error) {
        throwReadError(error.what());
    }
    if (int64_t(total) < count)
        throwEndedAt(position_ + int64_t(total));
    position_ += int64_t(total);
    return int64_t(total);
}

void SourceFile::seek(int64_t position) {
    if (position < 0)
        throw Error("Stream seek error \"" + path_ + "\". " + platform::ErrorText(EINVAL));
    position_ = position;
}

int64_t SourceFile::currentSize() const {
    try {
        return file_.size();
    } catch (const platform::SystemError& error) {
        throwReadError(error.what());
    }
}

// A window from the huge page boundary at or before `start` to the one after `end`, at
// least one huge page long, not past size().
bool SourceFile::mapWindow(int64_t start, int64_t end) {
    constexpr int64_t Alignment = platform::MappedWindow::Alignment;
    const int64_t from = start / Alignment * Alignment;
    const int64_t stop = std::min(std::max((end + Alignment - 1) / Alignment * Alignment, from + Alignment), size_);
    return window_.map(file_.handle(), from, stop - from);
}

int64_t SourceFile::next(const uint8_t*& data, uint8_t* buffer, int64_t count) {
    const int64_t got = view(position_, data, buffer, count);
    position_ += got;
    return got;
}

int64_t SourceFile::view(int64_t offset, const uint8_t*& data, uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - offset, 0, count);
    lastStart_ = lastEnd_ = offset;
    if (count == 0)
        return 0;
    const int64_t end = offset + count;
    if (!unmappable_ && offset >= readUntil_) {
        // A file that is shorter now than these bytes ends where a read would find its end.
        const int64_t now = currentSize();
        if (now < end)
            throwEndedAt(std::max(now, offset));
        const bool inWindow =
            window_.data() != nullptr && offset >= window_.offset() && end <= window_.offset() + window_.length();
        bool mapped = inWindow;
        if (!inWindow) {
            const auto start = platform::ThreadCpuTime();
            mapped = mapWindow(offset, end);
            const auto took = platform::ThreadCpuTime() - start;
            if (mapped && !mapAlways_ && took > SlowMapping * (window_.length() / Mebibyte + 1)) {
                readUntil_ = window_.offset() + window_.length() + readWindows_ * platform::MappedWindow::Alignment;
                readWindows_ = std::min(readWindows_ * 2, MaxReadWindows);
            } else {
                readWindows_ = 1;
            }
        }
        if (mapped) {
            data = window_.data() + (offset - window_.offset());
            lastEnd_ = end;
            return count;
        }
        unmappable_ = true; // a file system without mappings: read from here on
    }
    if (window_.data() != nullptr && end > window_.offset() + window_.length())
        window_.unmap(); // read from here on, up to the next try
    const int64_t position = position_;
    position_ = offset;
    data = buffer;
    const int64_t got = read(buffer, count);
    position_ = position;
    lastEnd_ = offset + got;
    return got;
}

void SourceFile::confirm() const {
    if (!window_.cut())
        return;
    const int64_t now = currentSize();
    if (now < lastEnd_)
        throwEndedAt(std::max(now, lastStart_));
    throwReadError(platform::ErrorText(EIO)); // the file is whole: its storage failed
}

} // namespace halyard
