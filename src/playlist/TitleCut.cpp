#include "playlist/TitleCut.h"

#include "playlist/SourceName.h"
#include "playlist/XplAttributes.h"

namespace halyard {

bool CutToTitle(std::vector<std::string>& memo, const std::vector<bool>& commentLines, const std::string& baseName) {
    const std::optional<size_t> found = FirstLineNaming(memo, commentLines, baseName);
    if (!found || *found == 0)
        return false;
    const size_t match = *found;

    // The search up starts at the match itself, so a name found in the Title tag
    // keeps that title rather than the one before it.
    for (size_t line = match + 1; line-- > 0;) {
        if (ContainsUpper(memo[line], "<TITLE ")) {
            memo.erase(memo.begin(), memo.begin() + std::ptrdiff_t(line));
            break;
        }
    }
    for (size_t line = 1; line < memo.size(); ++line) {
        if (ContainsUpper(memo[line], "</TITLE")) {
            memo.erase(memo.begin() + std::ptrdiff_t(line) + 1, memo.end());
            break;
        }
    }
    return true;
}

} // namespace halyard
