// halyard-cli demux: the Read EVO job, then the Demux job over the streams found (or
// those that --streams names).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/Command.h"
#include "cli/ReadOptions.h"
#include "cli/Session.h"
#include "cli/StreamList.h"
#include "handoff/MkvmergeRecipe.h"
#include "jobs/Paths.h"
#include "jobs/PgsOutputs.h"
#include "model/Error.h"
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

// NAME.mkvmerge.json beside the outputs, muxing them into NAME.mkv; the outputs
// mkvmerge cannot read are named on stderr.
void writeMkvmergeOptions(Session& session, const std::optional<MkvmergePlaylist>& playlist) {
    const std::string prefix =
        AbsolutePath(OutputPrefix(session.jobs.outputFolder(), session.jobs.Paths.OutputBaseName));
    const std::vector<std::string> inputs = MkvmergeInputs(session.jobs, playlist);
    const MkvmergeOptions options = PrepareMkvmerge(session.report.report(), session.ui, playlist, prefix + ".mkv",
                                                    prefix + ".chapters.txt", inputs, warn);
    WriteMkvmergeOptionFile(options, prefix + ".mkvmerge.json", inputs);
}

} // namespace

Command AddDemuxCommand(CLI::App& app) {
    auto options = std::make_shared<DemuxOptions>();
    CLI::App* command = app.add_subcommand(
        "demux", "Reads FILE, then writes its streams as elementary stream files, beside FILE or into DIR.");
    AddReadOptions(*command, options->read);
    command->add_option("--output", options->outputDir, "output folder (default: the folder of FILE)")
        ->check(CLI::Validator(CheckFolder, ""))
        ->type_name("DIR");
    command->add_option("--video-ext", options->videoExt, "extension of video outputs (default mpv)")
        ->check(CLI::Validator(CheckExtension, ""))
        ->type_name("EXT");
    command->add_option("--audio-ext", options->audioExt, "extension of audio outputs (default mpa)")
        ->check(CLI::Validator(CheckExtension, ""))
        ->type_name("EXT");
    command->add_option("--sub-ext", options->subExt, "extension of subpicture outputs (default sup)")
        ->check(CLI::Validator(CheckExtension, ""))
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
                     "the playlist whose languages, track names and chapters go into the mkvmerge options (default: " +
                         ExamplePath("../ADV_OBJ/VPLST000.XPL") + " beside a source in HVDVD_TS, when it exists)")
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
                        options->mkvmerge ? ReadMkvmergePlaylist(session.jobs, session.ui, options->playlist)
                                          : std::nullopt;
                    session.jobs.bReadEVOClick();
                    if (CliUi::interrupted())
                        return;
                    if (options->streams)
                        KeepListedStreams(session.ui, *options->streams);
                    RequireAStreamToWrite(session.ui, options->streams.has_value(), options->read.file);
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
