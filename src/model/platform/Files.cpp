// What the file functions of every system share.
#include "model/platform/Files.h"

#include <cerrno>

#include "model/platform/SystemError.h"

namespace halyard::platform {

bool Exists(const std::string& path) {
    return StatusOf(path).has_value();
}

bool IsRegularFile(const std::string& path) {
    const std::optional<FileStatus> status = StatusOf(path);
    return status && status->kind == FileKind::Regular;
}

bool IsDirectory(const std::string& path) {
    const std::optional<FileStatus> status = StatusOf(path);
    return status && status->kind == FileKind::Directory;
}

void CreateFolders(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && IsPathSeparator(folder.back()))
        folder.pop_back();
    if (folder.empty() || IsDirectory(folder))
        return;
    size_t last = folder.size();
    while (last > 0 && !IsPathSeparator(folder[last - 1]))
        --last;
    if (last > 0)
        CreateFolders(folder.substr(0, last)); // a root or a drive exists, and ends this
    if (!CreateFolder(folder) && !IsDirectory(folder))
        throw SystemError(ENOTDIR);
}

} // namespace halyard::platform
