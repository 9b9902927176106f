#pragma once
#include <string_view>

namespace halyard {

// Whether mkvmerge takes code (lower case) as a track language: the ISO 639-1 and
// ISO 639-2 codes it lists. Playlists give ISO 639-1 codes ("en"); a strict ISO 639-2
// check would refuse every one of them.
bool MkvmergeKnowsLanguage(std::string_view code);

} // namespace halyard
