// halyard-cli demux: the Read EVO job, then the Demux job over the streams found (or
// those that --streams names).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli/Chapters.h"
#include "cli/Command.h"
#include "cli/JsonReport.h"
#include "cli/MkvmergeOptions.h"
#include "cli/ReadOptions.h"
#include "cli/Session.h"
#include "cli/StreamList.h"
#include "jobs/Paths.h"
#include "model/Error.h"

namespace halyard::cli {

namespace {

struct DemuxOptions {
    ReadOptions read;
    std::string outputDir;
    std::string videoExt = "mpv";
    std::string audioExt = "mpa";
    std::string subExt = "sup";
    std::optional<std::vector<std::string>> streams;
    bool lpcmWav = false;
    bool mkvmerge = false;
    std::string playlist;
};

void applyDemuxOptions(const DemuxOptions& options, UiModel& ui) {
    ApplyReadOptions(options.read, ui);
    ui.eWorkdir = options.outputDir;
    ui.eVideoExt = options.videoExt;
    ui.eAudioExt = options.audioExt;
    ui.eSubExt = options.subExt;
    ui.lpcmWav = options.lpcmWav;
}

void warn(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "halyard-cli: %s\n", line.c_str());
}

// The playlist's languages, track names and chapters for the option file: from
// --playlist, or from the playlist the disc layout puts beside the source. The
// chapters go into NAME.chapters.txt.
std::optional<PlaylistInfo> readPlaylist(Session& session, const std::string& playlistOption,
                                         const std::string& prefix, std::vector<std::string> sources) {
    std::string path = playlistOption;
    if (path.empty() && !session.jobs.Paths.PlaylistFileName.empty() && std::filesystem::exists(session.ui.eXPLfile))
        path = session.ui.eXPLfile;
    if (path.empty())
        return std::nullopt;
    const PlaylistTitles playlist = ReadPlaylistTitles(path, session.ui.eEVOfile);
    if (!playlist.sourceTitle) {
        warn("no title of " + path + " plays " + session.ui.eEVOfile +
             ": the mkvmerge options have no languages, track names or chapters");
        return std::nullopt;
    }
    const PlaylistTitle& title = playlist.titles[*playlist.sourceTitle];
    PlaylistInfo info;
    for (const TitleTrack& track : title.tracks)
        info.tracks[{track.kind, track.slot}] = {track.language, XmlText(track.description)};
    try {
        const std::vector<Chapter> chapters = TitleChapters(playlist, title);
        if (!chapters.empty()) {
            info.chaptersPath = prefix + ".chapters.txt";
            sources.push_back(path);
            WriteTextFile(info.chaptersPath, SimpleChapterFile(chapters), sources);
        }
    } catch (const Error& error) {
        warn(std::string(error.what()) + "; the mkvmerge options have no chapters");
        info.chaptersPath.clear();
    }
    return info;
}

// NAME.mkvmerge.json beside the outputs, muxing them into NAME.mkv; the outputs
// mkvmerge cannot read are named on stderr.
void writeMkvmergeOptions(Session& session, const std::string& playlistOption) {
    namespace fs = std::filesystem;
    // mkvmerge reads the paths from where it runs: they are written absolute.
    auto absolute = [](const std::string& path) { return fs::absolute(path).lexically_normal().string(); };
    const std::string prefix = absolute(OutputPrefix(session.jobs.outputFolder(), session.jobs.Paths.OutputBaseName));
    RunReport report = session.report.report();
    std::vector<std::string> sources;
    for (const ReportSource& source : report.sources)
        sources.push_back(source.path);
    for (ReportOutput& output : report.outputs)
        output.path = absolute(output.path);
    const std::optional<PlaylistInfo> playlist = readPlaylist(session, playlistOption, prefix, sources);
    const MkvmergeOptions options = BuildMkvmergeOptions(report, prefix + ".mkv", playlist ? &*playlist : nullptr);
    for (const std::string& line : options.leftOut)
        warn(line);
    WriteTextFile(prefix + ".mkvmerge.json", JsonText(options.arguments), sources);
}

std::string checkExtension(std::string& extension) {
    return CheckExtension(extension);
}

std::string checkFolder(std::string& folder) {
    return CheckFolder(folder);
}

} // namespace

Command AddDemuxCommand(CLI::App& app) {
    auto options = std::make_shared<DemuxOptions>();
    CLI::App* command = app.add_subcommand(
        "demux", "Reads FILE, then writes its streams as elementary stream files, beside FILE or into DIR.");
    AddReadOptions(*command, options->read);
    command->add_option("--output", options->outputDir, "output folder (default: the folder of FILE)")
        ->check(CLI::Validator(checkFolder, ""))
        ->type_name("DIR");
    command->add_option("--video-ext", options->videoExt, "extension of video outputs (default mpv)")
        ->check(CLI::Validator(checkExtension, ""))
        ->type_name("EXT");
    command->add_option("--audio-ext", options->audioExt, "extension of audio outputs (default mpa)")
        ->check(CLI::Validator(checkExtension, ""))
        ->type_name("EXT");
    command->add_option("--sub-ext", options->subExt, "extension of subpicture outputs (default sup)")
        ->check(CLI::Validator(checkExtension, ""))
        ->type_name("EXT");
    AddStreamsOption(*command, options->streams,
                     "demux only these streams: comma-separated box names (cbVideo0, cbAudio01, cbSub03) or "
                     "captions (DD.stream.01)");
    command->add_flag("--lpcm-wav", options->lpcmWav,
                      "write LPCM audio of .EVO and .VOB sources as WAV files (extension wav)");
    command->add_flag("--mkvmerge", options->mkvmerge,
                      "also write NAME.mkvmerge.json, an mkvmerge option file that muxes the outputs into NAME.mkv");
    command
        ->add_option("--playlist", options->playlist,
                     "the playlist whose languages, track names and chapters go into the mkvmerge options (default: "
                     "../ADV_OBJ/VPLST000.XPL beside a source in HVDVD_TS, when it exists)")
        ->type_name("XPL")
        ->needs("--mkvmerge");

    return {command, "demux [options] [--output DIR] FILE", [options] {
                Session session(options->read.markup);
                applyDemuxOptions(*options, session.ui);
                session.jobs.EVOadj();
                if (options->read.json)
                    session.printJsonInsteadOfLog();
                return session.run([&] {
                    session.jobs.bReadEVOClick();
                    if (CliUi::interrupted())
                        return;
                    if (options->streams)
                        KeepListedStreams(session.ui, *options->streams);
                    RequireAStreamToWrite(session.ui, options->streams.has_value(), options->read.file);
                    session.jobs.cbVideoClick();
                    session.jobs.bDemuxClick();
                    if (options->mkvmerge && !CliUi::interrupted())
                        writeMkvmergeOptions(session, options->playlist);
                    if (options->read.json)
                        session.printJson("demux");
                });
            }};
}

} // namespace halyard::cli
