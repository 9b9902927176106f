#include "jobs/Paths.h"

namespace halyard {

namespace {
// Index just after the last folder separator or drive colon (0 when there is none).
size_t nameStart(const std::string& path, char separator) {
    size_t last = path.find_last_of(std::string{separator, ':'});
    return last == std::string::npos ? 0 : last + 1;
}
} // namespace

std::string CutExt(const std::string& name, char separator) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart(name, separator))
        return name;
    return name.substr(0, dot);
}

std::string FileNamePart(const std::string& path, char separator) {
    return path.substr(nameStart(path, separator));
}

std::string FolderPart(const std::string& path, char separator) {
    return path.substr(0, nameStart(path, separator));
}

std::string OutputPrefix(const std::string& folder, const std::string& baseName, char separator) {
    if (folder.empty())
        return "";
    if (folder.back() == separator)
        return folder + baseName;
    return folder + separator + baseName;
}

} // namespace halyard
