#include "model/SourceFile.h"

#include <algorithm>
#include <cerrno>

#include "model/Error.h"
#include "model/platform/SystemError.h"

namespace halyard {

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

int64_t SourceFile::read(uint8_t* buffer, int64_t count) {
    count = std::clamp<int64_t>(size_ - position_, 0, count);
    size_t total = 0;
    try {
        total = file_.readAt(buffer, size_t(count), position_);
    } catch (const platform::SystemError& error) {
        throwReadError(error.what());
    }
    if (int64_t(total) < count)
        throwReadError("The file ends at byte " + std::to_string(position_ + int64_t(total)) + ", before its size of " +
                       std::to_string(size_) + " bytes");
    position_ += int64_t(total);
    return int64_t(total);
}

void SourceFile::seek(int64_t position) {
    if (position < 0)
        throw Error("Stream seek error \"" + path_ + "\". " + platform::ErrorText(EINVAL));
    position_ = position;
}

} // namespace halyard
