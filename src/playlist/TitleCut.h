#pragma once
#include <string>
#include <vector>

namespace halyard {

// Cuts the memo of a playlist's tags down to the title that plays a source. The
// match is the first line outside a comment that names baseName (the source's name
// without folder and extension) as a whole file name (see NamesFile). From the match
// up, the first line holding "<TITLE " (in any case) becomes the first line; from
// there down, the first later line holding "</TITLE" becomes the last. Returns false,
// leaving the memo whole, when no line matches or only the first one does.
bool CutToTitle(std::vector<std::string>& memo, const std::vector<bool>& commentLines, const std::string& baseName);

} // namespace halyard
