#pragma once
// What mkvmerge is given to mux a demux's outputs into one Matroska file: the playlist's
// languages, names and chapters, the arguments, and the option file that holds them.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "handoff/MkvmergeOptions.h"
#include "jobs/Jobs.h"
#include "playlist/PlaylistTitles.h"

namespace halyard {

// The playlist whose languages, track names and chapters go to mkvmerge.
struct MkvmergePlaylist {
    std::string path;
    PlaylistTitles titles;
};

// The playlist given, else the one the disc layout puts beside the source when it
// exists; nullopt when there is neither. It is read at once, so that a playlist that
// cannot be read stops a run before any work.
std::optional<MkvmergePlaylist> ReadMkvmergePlaylist(const Jobs& jobs, const UiModel& ui, const std::string& given);

// Every file a run that hands on to mkvmerge reads: the job's inputs and the playlist.
std::vector<std::string> MkvmergeInputs(const Jobs& jobs, const std::optional<MkvmergePlaylist>& playlist);

// A line for the user that is not an error: an output left out, a language dropped.
using Warn = std::function<void(const std::string&)>;

// The arguments that mux the report's outputs (their paths made absolute) into
// mkvPath. The title of the playlist that plays the source gives languages and names,
// and its chapters are written to chaptersPath, which the arguments name. Lines on
// what is left out go to warn.
MkvmergeOptions PrepareMkvmerge(const RunReport& report, const UiModel& ui,
                                const std::optional<MkvmergePlaylist>& playlist, const std::string& mkvPath,
                                const std::string& chaptersPath, const std::vector<std::string>& inputs,
                                const Warn& warn);

// The arguments as mkvmerge's option file, a JSON array. An option file names files as
// UTF-8 text, so a path that is not UTF-8 would reach mkvmerge as another name: such a
// file is refused ("The mkvmerge option file ... is not written ...").
void WriteMkvmergeOptionFile(const MkvmergeOptions& options, const std::string& path,
                             const std::vector<std::string>& inputs);

// A path made absolute, as mkvmerge, which runs elsewhere, must be given it.
std::string AbsolutePath(const std::string& path);

} // namespace halyard
