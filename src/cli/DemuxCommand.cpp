// halyard-cli demux: the Read EVO job, then the Demux job over the streams found (or
// those that --streams names).
#include <CLI/CLI.hpp>
#include <memory>
#include <optional>

#include "cli/Command.h"
#include "cli/ReadOptions.h"
#include "cli/Session.h"
#include "cli/StreamList.h"
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

    return {command, "demux [options] [--output DIR] FILE", [options] {
                Session session(options->read.markup);
                applyDemuxOptions(*options, session.ui);
                session.jobs.EVOadj();
                return session.run([&] {
                    session.jobs.bReadEVOClick();
                    if (CliUi::interrupted())
                        return;
                    if (options->streams)
                        KeepListedStreams(session.ui, *options->streams);
                    requireAStreamToWrite(session.ui, *options);
                    session.jobs.cbVideoClick();
                    session.jobs.bDemuxClick();
                });
            }};
}

} // namespace halyard::cli
