#include "playlist/TitleCut.h"

#include "playlist/XplAttributes.h"

namespace halyard {

bool CutToTitle(std::vector<std::string>& memo, const std::string& baseName) {
    if (baseName.empty())
        return false;
    size_t match = 0;
    while (match < memo.size() && memo[match].find(baseName) == std::string::npos)
        ++match;
    if (match == memo.size() || match == 0)
        return false;

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
