#pragma once
// Where a playlist names a source file: the clips of a title name their files
// ("file:///dvddisc/HVDVD_TS/FEATURE_1.MAP"), and the source FEATURE_1.EVO plays in the
// title that holds that clip.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// Whether a tag names the file baseName (a name without folder and extension) as a
// whole file name: the name begins after a "/" or "\", a quote or an "=" (the start of
// a value), and a "." follows it. FEATURE_1 is not named by FEATURE_10.MAP, nor by
// MY_FEATURE_1.MAP. Case-sensitive; an empty name is named nowhere.
bool NamesFile(std::string_view tag, std::string_view baseName);

// The first memo line that names baseName outside an XML comment. commentLines holds,
// for each memo line, whether it lies inside a comment; lines past its end count as
// outside.
std::optional<size_t> FirstLineNaming(const std::vector<std::string>& memo, const std::vector<bool>& commentLines,
                                      std::string_view baseName);

} // namespace halyard
