#pragma once
#include <string>
#include <vector>

namespace halyard {

// Cuts the memo of a playlist's tags down to the title that plays a source. The
// match is the first line that contains baseName (the source's name without folder
// and extension; case-sensitive, and an empty name matches nothing). From the match
// up, the first line holding "<TITLE " (in any case) becomes the first line; from
// there down, the first later line holding "</TITLE" becomes the last. Returns false,
// leaving the memo whole, when no line matches or only the first one does.
bool CutToTitle(std::vector<std::string>& memo, const std::string& baseName);

} // namespace halyard
