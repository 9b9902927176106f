#include "playlist/SourceName.h"

namespace halyard {

namespace {
bool beginsName(char before) {
    return before == '/' || before == '\\' || before == '"' || before == '\'' || before == '=';
}
} // namespace

bool NamesFile(std::string_view tag, std::string_view baseName) {
    if (baseName.empty())
        return false;
    for (size_t at = tag.find(baseName); at != std::string_view::npos; at = tag.find(baseName, at + 1)) {
        const size_t end = at + baseName.size();
        if (at > 0 && beginsName(tag[at - 1]) && end < tag.size() && tag[end] == '.')
            return true;
    }
    return false;
}

std::optional<size_t> FirstLineNaming(const std::vector<std::string>& memo, const std::vector<bool>& commentLines,
                                      std::string_view baseName) {
    for (size_t line = 0; line < memo.size(); ++line) {
        const bool inComment = line < commentLines.size() && commentLines[line];
        if (!inComment && NamesFile(memo[line], baseName))
            return line;
    }
    return std::nullopt;
}

} // namespace halyard
