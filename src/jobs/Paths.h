#pragma once
#include <string>

namespace halyard {

// The platform's folder separator, written "\" on the disc's home platform.
#ifdef _WIN32
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// The name without its extension: the part from the last "." that follows the last
// folder separator or drive colon. "FEATURE_1.EVO" gives "FEATURE_1", "a.b.c" gives "a.b".
std::string CutExt(const std::string& name, char separator = PathSeparator);

// The file name part of a path, and the folder part with its trailing separator.
std::string FileNamePart(const std::string& path, char separator = PathSeparator);
std::string FolderPart(const std::string& path, char separator = PathSeparator);

// The output folder with a separator appended when it lacks one, followed by the base name.
std::string OutputPrefix(const std::string& folder, const std::string& baseName, char separator = PathSeparator);

} // namespace halyard
