#pragma once
#include <string>

#include "model/platform/Platform.h"

namespace halyard {

// The platform's folder separator; the disc formats' home platform writes "\". The
// functions below that take a separator take "/" too when it is "\", as Windows does.
using platform::PathSeparator;

// Fixed names of the HD DVD disc layout.
inline constexpr const char* VideoFolderName = "HVDVD_TS";
inline constexpr const char* PlaylistFolderName = "ADV_OBJ";
inline constexpr const char* PlaylistName = "VPLST000.XPL";

// The name without its extension: the part from the last "." that follows the last
// folder separator or drive colon. "FEATURE_1.EVO" gives "FEATURE_1", "a.b.c" gives "a.b".
std::string CutExt(const std::string& name, char separator = PathSeparator);

// The file name part of a path, and the folder part with its trailing separator.
std::string FileNamePart(const std::string& path, char separator = PathSeparator);
std::string FolderPart(const std::string& path, char separator = PathSeparator);

// The text from the last "." on, upper-cased (".EVO"); empty when there is no ".".
std::string UpperExtension(const std::string& path);

// The output folder with a separator appended when it lacks one, followed by the base
// name; empty for an empty folder.
std::string OutputPrefix(const std::string& folder, const std::string& baseName, char separator = PathSeparator);

// The path the second feature file would have: in the file name, the first "_1"
// becomes "_2" (FEATURE_1.EVO, FEATURE_2.EVO), or, in a name without "_1", the first
// "0_" becomes "1_". Empty when the name has neither.
std::string SecondFeatureCandidate(const std::string& path, char separator = PathSeparator);

// The second feature file that continues the file at path, if it exists; else "".
std::string getsecond(const std::string& path);

// For a folder (with trailing separator) ending in "HVDVD_TS": its sibling "ADV_OBJ"
// folder; for one ending in "ADV_OBJ": its sibling "HVDVD_TS". Otherwise "".
std::string PlaylistFolderFor(const std::string& sourceFolder, char separator = PathSeparator);
std::string SourceFolderFor(const std::string& playlistFolder, char separator = PathSeparator);

} // namespace halyard
