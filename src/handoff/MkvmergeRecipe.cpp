#include "handoff/MkvmergeRecipe.h"

#include <filesystem>

#include "handoff/Chapters.h"
#include "handoff/JsonReport.h"
#include "model/Error.h"
#include "model/Utf8.h"

namespace halyard {

namespace {

// The title that plays the source gives the tracks their languages and names; its
// chapters go into the chapter file.
std::optional<PlaylistInfo> playlistInfo(const UiModel& ui, const MkvmergePlaylist& playlist,
                                         const std::string& chaptersPath, const std::vector<std::string>& inputs,
                                         const Warn& warn) {
    if (!playlist.titles.sourceTitle) {
        warn("no title of " + playlist.path + " plays " + ui.eEVOfile +
             ": the mkvmerge options have no languages, track names or chapters");
        return std::nullopt;
    }
    const PlaylistTitle& title = playlist.titles.titles[*playlist.titles.sourceTitle];
    PlaylistInfo info;
    for (const TitleTrack& track : title.tracks)
        info.tracks[{track.kind, track.slot}] = {track.language, XmlText(track.description)};
    // Chapters whose times cannot be converted are left out; a chapter file that
    // cannot be written is a failure like any other output's.
    std::vector<Chapter> chapters;
    try {
        chapters = TitleChapters(playlist.titles, title);
    } catch (const Error& error) {
        warn(std::string(error.what()) + "; the mkvmerge options have no chapters");
    }
    if (!chapters.empty()) {
        info.chaptersPath = chaptersPath;
        WriteTextFile(info.chaptersPath, SimpleChapterFile(chapters), inputs);
    }
    return info;
}

} // namespace

std::optional<MkvmergePlaylist> ReadMkvmergePlaylist(const Jobs& jobs, const UiModel& ui, const std::string& given) {
    std::string path = given;
    if (path.empty() && !jobs.Paths.PlaylistFileName.empty() && std::filesystem::exists(ui.eXPLfile))
        path = ui.eXPLfile;
    if (path.empty())
        return std::nullopt;
    return MkvmergePlaylist{path, ReadPlaylistTitles(path, ui.eEVOfile)};
}

std::vector<std::string> MkvmergeInputs(const Jobs& jobs, const std::optional<MkvmergePlaylist>& playlist) {
    std::vector<std::string> inputs = jobs.inputFiles();
    if (playlist)
        inputs.push_back(playlist->path);
    return inputs;
}

std::string AbsolutePath(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

MkvmergeOptions PrepareMkvmerge(const RunReport& report, const UiModel& ui,
                                const std::optional<MkvmergePlaylist>& playlist, const std::string& mkvPath,
                                const std::string& chaptersPath, const std::vector<std::string>& inputs,
                                const Warn& warn) {
    RunReport absolute = report;
    for (ReportOutput& output : absolute.outputs)
        output.path = AbsolutePath(output.path);
    const std::optional<PlaylistInfo> info =
        playlist ? playlistInfo(ui, *playlist, chaptersPath, inputs, warn) : std::nullopt;
    MkvmergeOptions options = BuildMkvmergeOptions(absolute, mkvPath, info ? &*info : nullptr);
    for (const std::string& line : options.leftOut)
        warn(line);
    for (const std::string& line : options.warnings)
        warn(line);
    return options;
}

void WriteMkvmergeOptionFile(const MkvmergeOptions& options, const std::string& path,
                             const std::vector<std::string>& inputs) {
    for (const auto& argument : options.arguments) {
        const std::string& text = argument.get_ref<const std::string&>();
        if (!IsValidUtf8(text))
            throw Error("The mkvmerge option file \"" + path + "\" is not written: \"" + text +
                        "\" is not UTF-8, and mkvmerge reads an option file as UTF-8");
    }
    WriteTextFile(path, JsonText(options.arguments), inputs);
}

} // namespace halyard
