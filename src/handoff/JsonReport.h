#pragma once
// The results of a run as one JSON document, for the tools that come after.
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "jobs/RunReport.h"
#include "playlist/PlaylistTitles.h"

namespace halyard {

struct RebuildResult;
struct MkvTripResult;

// Version of the document's layout; a change that breaks a reader raises it.
inline constexpr int JsonFormatVersion = 1;

// The report of a read (and of the demux that followed it) as documented in the README:
// format_version, command, sources, streams, frames and, after a demux, outputs.
nlohmann::ordered_json ReportJson(const RunReport& report, const std::string& command);

// A playlist as documented in the README: format_version, command "xpl", the playlist,
// its time and tick base, the source and the title that plays it, and every title with
// its tracks and chapters (chapter starts null when the time base is not known).
nlohmann::ordered_json PlaylistJson(const PlaylistTitles& playlist, const std::string& playlistPath,
                                    const std::string& sourcePath);

// The same document's text as JsonText gives it, handed to write piece by piece: the
// titles one at a time, so that a large playlist is never held as one JSON tree.
void WritePlaylistJson(const PlaylistTitles& playlist, const std::string& playlistPath, const std::string& sourcePath,
                       const std::function<void(const std::string&)>& write);

// The file a rebuild wrote, an entry of "outputs" in rebuild --json: its path, "kind":
// "program_stream", "format": "evo", and each kept stream with its ids in the source and
// in the file, the box that kept it, its caption in a read of the file, and its packets
// and payload bytes there.
nlohmann::ordered_json RebuildOutputJson(const RebuildResult& result);

// The report of a trip to Matroska (command "mkv"): the read's streams, and as outputs
// the Matroska file ("kind": "matroska", "format": "mkv", with mkvmerge's warnings) and,
// when they are kept, the demuxed files and the option file ("format": "mkvmerge").
nlohmann::ordered_json MkvTripJson(const RunReport& report, const MkvTripResult& result);

// The document as printed: indented by two spaces, with a final line break.
std::string JsonText(const nlohmann::ordered_json& document);

} // namespace halyard
