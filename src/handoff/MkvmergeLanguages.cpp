#include "handoff/MkvmergeLanguages.h"

#include <algorithm>
#include <iterator>

namespace halyard {

namespace {
constexpr std::string_view LanguageCodes[] = {
#include "handoff/MkvmergeLanguageTable.inc"
};
} // namespace

bool MkvmergeKnowsLanguage(std::string_view code) {
    return std::binary_search(std::begin(LanguageCodes), std::end(LanguageCodes), code);
}

} // namespace halyard
