#include "jobs/Paths.h"

#include <cctype>

#include "model/platform/Files.h"

namespace halyard {

namespace {
// Windows takes "/" as a folder separator as well as its own "\".
bool isSeparator(char ch, char separator) {
    return ch == separator || (separator == '\\' && ch == '/');
}

// Index just after the last folder separator or drive colon (0 when there is none).
size_t nameStart(const std::string& path, char separator) {
    for (size_t at = path.size(); at > 0; --at)
        if (isSeparator(path[at - 1], separator) || path[at - 1] == ':')
            return at;
    return 0;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Swaps the folder at the end of `folder` (case-sensitive) for its sibling.
std::string siblingFolder(const std::string& folder, const std::string& from, const std::string& to, char separator) {
    if (folder.empty() || !isSeparator(folder.back(), separator))
        return "";
    const std::string inner = folder.substr(0, folder.size() - 1);
    if (!endsWith(inner, from))
        return "";
    return inner.substr(0, inner.size() - from.size()) + to + folder.back();
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

std::string UpperExtension(const std::string& path) {
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos)
        return "";
    std::string extension = path.substr(dot);
    for (char& ch : extension)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return extension;
}

std::string OutputPrefix(const std::string& folder, const std::string& baseName, char separator) {
    if (folder.empty())
        return "";
    if (isSeparator(folder.back(), separator))
        return folder + baseName;
    return folder + separator + baseName;
}

std::string SecondFeatureCandidate(const std::string& path, char separator) {
    const std::string name = FileNamePart(path, separator);
    const std::string folder = FolderPart(path, separator);
    size_t at = name.find("_1");
    if (at != std::string::npos)
        return folder + name.substr(0, at + 1) + "2" + name.substr(at + 2);
    at = name.find("0_");
    if (at != std::string::npos)
        return folder + name.substr(0, at) + "1" + name.substr(at + 1);
    return "";
}

std::string getsecond(const std::string& path) {
    std::string candidate = SecondFeatureCandidate(path);
    if (candidate.empty() || !platform::IsRegularFile(candidate))
        return "";
    return candidate;
}

std::string PlaylistFolderFor(const std::string& sourceFolder, char separator) {
    return siblingFolder(sourceFolder, VideoFolderName, PlaylistFolderName, separator);
}

std::string SourceFolderFor(const std::string& playlistFolder, char separator) {
    return siblingFolder(playlistFolder, PlaylistFolderName, VideoFolderName, separator);
}

} // namespace halyard
