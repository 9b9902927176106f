#pragma once
// An mkvmerge option file that muxes the streams Demux wrote into one Matroska file.
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "jobs/RunReport.h"

namespace halyard {

// What a playlist says of the streams: by class and slot, a language and a track name.
struct PlaylistTrack {
    std::string language;
    std::string name;
};
struct PlaylistInfo {
    std::map<std::pair<StreamClass, int>, PlaylistTrack> tracks;
    std::string chaptersPath; // a simple chapter file; empty for none
};

struct MkvmergeOptions {
    // The option file's content: mkvmerge's arguments as a JSON array.
    nlohmann::json arguments = nlohmann::json::array();
    // One line for each output left out, saying which and why.
    std::vector<std::string> leftOut;
    // One line for each playlist language left out, naming the track.
    std::vector<std::string> warnings;
};

// Arguments that write mkvPath from every output of the report that mkvmerge can
// read: a --sync for each audio delay (against the first video stream of the first
// source), and languages, track names and chapters from the playlist when one is given.
// A language that mkvmerge does not know is left out, with a warning, since mkvmerge
// refuses the whole option file for it.
// PGS subtitles go in (forced ones with the forced display flag) in place of their
// ".sup" outputs. Raw LPCM (written without WAV) and ".sup" subpictures without PGS
// are left out.
MkvmergeOptions BuildMkvmergeOptions(const RunReport& report, const std::string& mkvPath,
                                     const PlaylistInfo* playlist = nullptr);

} // namespace halyard
