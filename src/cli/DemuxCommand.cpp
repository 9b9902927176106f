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
#include "jobs/PgsOutputs.h"
#include "model/Error.h"
#include "model/Utf8.h"
#include "subtitles/Palette.h"

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
    bool pgs = false;
    std::string palette;
};

// A demux that would write no file is a failure, not a success with nothing done.
void requireAStreamToWrite(UiModel& ui, const DemuxOptions& options) {
    if (AnyStreamTicked(ui))
        return;
    if (options.streams)
        throw Error("No stream to demux: --streams selects none of the streams found");
    throw Error("No stream to demux: none was found in \"" + options.read.file + "\"");
}

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

// The playlist whose languages, track names and chapters go into the option file:
// --playlist, or the one the disc layout puts beside the source. It is read before
// any work, so that a playlist that cannot be read stops the run before the demux.
struct MkvmergePlaylist {
    std::string path;
    PlaylistTitles titles;
};

std::optional<MkvmergePlaylist> readPlaylist(Session& session, const std::string& playlistOption) {
    std::string path = playlistOption;
    if (path.empty() && !session.jobs.Paths.PlaylistFileName.empty() && std::filesystem::exists(session.ui.eXPLfile))
        path = session.ui.eXPLfile;
    if (path.empty())
        return std::nullopt;
    return MkvmergePlaylist{path, ReadPlaylistTitles(path, session.ui.eEVOfile)};
}

// The title that plays the source gives the tracks their languages and names; its
// chapters go into NAME.chapters.txt.
std::optional<PlaylistInfo> playlistInfo(const Session& session, const MkvmergePlaylist& playlist,
                                         const std::string& prefix, const std::vector<std::string>& inputs) {
    if (!playlist.titles.sourceTitle) {
        warn("no title of " + playlist.path + " plays " + session.ui.eEVOfile +
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
        info.chaptersPath = prefix + ".chapters.txt";
        WriteTextFile(info.chaptersPath, SimpleChapterFile(chapters), inputs);
    }
    return info;
}

// An option file names files as UTF-8 text: a path that is not UTF-8 would reach
// mkvmerge as another name. Such a file is not written at all.
void requireUtf8(const nlohmann::json& arguments, const std::string& optionFile) {
    for (const auto& argument : arguments) {
        const std::string& text = argument.get_ref<const std::string&>();
        if (!IsValidUtf8(text))
            throw Error("The mkvmerge option file \"" + optionFile + "\" is not written: \"" + text +
                        "\" is not UTF-8, and mkvmerge reads an option file as UTF-8");
    }
}

// NAME.mkvmerge.json beside the outputs, muxing them into NAME.mkv; the outputs
// mkvmerge cannot read are named on stderr.
void writeMkvmergeOptions(Session& session, const std::optional<MkvmergePlaylist>& playlist) {
    namespace fs = std::filesystem;
    // mkvmerge reads the paths from where it runs: they are written absolute.
    auto absolute = [](const std::string& path) { return fs::absolute(path).lexically_normal().string(); };
    const std::string prefix = absolute(OutputPrefix(session.jobs.outputFolder(), session.jobs.Paths.OutputBaseName));
    RunReport report = session.report.report();
    std::vector<std::string> inputs = session.jobs.inputFiles();
    if (playlist)
        inputs.push_back(playlist->path);
    for (ReportOutput& output : report.outputs)
        output.path = absolute(output.path);
    const std::optional<PlaylistInfo> info = playlist ? playlistInfo(session, *playlist, prefix, inputs) : std::nullopt;
    const MkvmergeOptions options = BuildMkvmergeOptions(report, prefix + ".mkv", info ? &*info : nullptr);
    for (const std::string& line : options.leftOut)
        warn(line);
    for (const std::string& line : options.warnings)
        warn(line);
    const std::string optionFile = prefix + ".mkvmerge.json";
    requireUtf8(options.arguments, optionFile);
    WriteTextFile(optionFile, JsonText(options.arguments), inputs);
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
    CLI::Option* pgs = command->add_flag(
        "--pgs", options->pgs,
        "also write each subpicture stream as Blu-ray PGS subtitles, NAME.CAPTION.pgs.sup (and "
        "NAME.CAPTION.forced.pgs.sup with the forced captions of a stream that has others too)");
    command
        ->add_option("--palette", options->palette,
                     "with --pgs: the IFO file whose first program chain colours the 2-bit subpictures (default: the "
                     "VTS_nn_0.IFO or VIDEO_TS.IFO beside a .VOB)")
        ->type_name("IFO")
        ->needs(pgs);

    return {command, "demux [options] [--output DIR] FILE", [options] {
                Session session(options->read.markup);
                applyDemuxOptions(*options, session.ui);
                session.jobs.EVOadj();
                if (options->read.json)
                    session.printJsonInsteadOfLog();
                return session.run([&] {
                    if (!options->palette.empty())
                        ReadIfoPalette(options->palette); // a palette that cannot be read fails before the run
                    const std::optional<MkvmergePlaylist> playlist =
                        options->mkvmerge ? readPlaylist(session, options->playlist) : std::nullopt;
                    session.jobs.bReadEVOClick();
                    if (CliUi::interrupted())
                        return;
                    if (options->streams)
                        KeepListedStreams(session.ui, *options->streams);
                    requireAStreamToWrite(session.ui, *options);
                    session.jobs.cbVideoClick();
                    session.jobs.bDemuxClick();
                    if (options->pgs && !CliUi::interrupted())
                        for (ReportOutput& output : WritePgsOutputs(session.report.report(), session.jobs,
                                                                    *session.state, session.ui, options->palette))
                            session.report.addOutput(std::move(output));
                    if (options->mkvmerge && !CliUi::interrupted())
                        writeMkvmergeOptions(session, playlist);
                    if (options->read.json)
                        session.printJson("demux");
                });
            }};
}

} // namespace halyard::cli
