// halyard-cli mkv: from each source to one Matroska file. Read EVO, Demux of the chosen
// streams (LPCM as WAV, subpictures as PGS) into a folder of the run's own, the
// playlist's chapters, mkvmerge, and the demuxed files removed unless --keep is given.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "cli/Command.h"
#include "cli/ReadOptions.h"
#include "cli/Session.h"
#include "cli/StreamList.h"
#include "handoff/JsonReport.h"
#include "handoff/MkvTrip.h"
#include "jobs/Paths.h"
#include "model/Error.h"
#include "model/platform/Files.h"
#include "model/platform/SystemError.h"

namespace halyard::cli {

namespace {

struct MkvOptions {
    ReadOptions read;
    std::vector<std::string> files;
    std::string output;
    std::optional<std::vector<std::string>> streams;
    std::string playlist;
    std::string palette;
    bool keep = false;
};

constexpr std::string_view DiscField = "{disc}";

// The folder a source's disc is named by: the one that holds HVDVD_TS or VIDEO_TS, or
// else the source's own folder.
std::string discName(const std::string& source) {
    const std::string folder = FolderPart(platform::AbsolutePath(source));
    const std::string name = FileNamePart(folder.substr(0, folder.size() - 1));
    if (name != VideoFolderName && name != "VIDEO_TS")
        return name;
    const std::string disc = FolderPart(folder.substr(0, folder.size() - 1));
    return FileNamePart(disc.substr(0, disc.size() - 1));
}

// --output with "{disc}" put in for the source; empty: the source's folder.
std::string outputFolderFor(const MkvOptions& options, const std::string& source) {
    std::string folder = options.output;
    for (size_t at; (at = folder.find(DiscField)) != std::string::npos;)
        folder.replace(at, DiscField.size(), discName(source));
    return folder;
}

void warn(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "halyard-cli: %s\n", line.c_str());
}

void applyOptions(const MkvOptions& options, const std::string& file, Session& session) {
    ReadOptions read = options.read;
    read.file = file;
    ApplyReadOptions(read, session.ui);
    session.ui.eWorkdir = outputFolderFor(options, file);
    session.jobs.EVOadj();
}

// Two sources that would write one NAME.mkv (the FEATURE_1.EVO of two discs into one
// folder) are refused before any work.
void refuseNameClashes(const MkvOptions& options) {
    std::map<std::string, std::string> sources;
    for (const std::string& file : options.files) {
        Session probe(false);
        applyOptions(options, file, probe);
        MkvTrip trip(probe.jobs, *probe.state, probe.ui, probe.report, StartMkvmergeChild, warn);
        const std::string mkv = trip.mkvPathFor({});
        const auto [at, added] = sources.emplace(mkv, file);
        if (!added)
            throw UsageError("\"" + at->second + "\" and \"" + file + "\" would both write \"" + mkv +
                             "\": give --output a folder for each, for example --output " +
                             ExampleArgument("out/{disc}"));
    }
}

int runOne(const MkvOptions& options, const std::string& mkvmerge, const std::string& file) {
    Session session(options.read.markup);
    applyOptions(options, file, session);
    if (options.read.json)
        session.printJsonInsteadOfLog();
    return session.run([&] {
        const std::string folder = session.ui.eWorkdir;
        if (!folder.empty() && !platform::IsDirectory(folder)) {
            try {
                platform::CreateFolders(folder);
            } catch (const platform::SystemError& error) {
                throw Error("Cannot create folder \"" + folder + "\". " + error.what());
            }
        }
        session.jobs.bReadEVOClick();
        if (CliUi::interrupted())
            return;
        if (options.streams)
            KeepListedStreams(session.ui, *options.streams);
        RequireAStreamToWrite(session.ui, options.streams.has_value(), file);
        session.jobs.cbVideoClick();
        MkvTrip trip(session.jobs, *session.state, session.ui, session.report, StartMkvmergeChild, warn);
        MkvTripOptions tripOptions;
        tripOptions.mkvmerge = mkvmerge;
        tripOptions.playlist = options.playlist;
        tripOptions.palette = options.palette;
        tripOptions.keep = options.keep;
        std::optional<MkvTripResult> result;
        session.jobs.runJob([&] { result = trip.run(tripOptions); });
        if (!result || result->cancelled || CliUi::interrupted())
            return;
        if (options.read.json)
            session.ui.print(JsonText(MkvTripJson(session.report.report(), *result)));
    });
}

} // namespace

Command AddMkvCommand(CLI::App& app) {
    auto options = std::make_shared<MkvOptions>();
    CLI::App* command = app.add_subcommand(
        "mkv", "Reads each FILE, demuxes its streams (LPCM as WAV, subpictures as PGS) and muxes them with mkvmerge "
               "into NAME.mkv, with the playlist's languages, names and chapters, beside FILE or into DIR.");
    AddReadOptions(*command, options->read, false);
    command
        ->add_option("--output", options->output,
                     "folder of the .mkv files (default: the folder of each FILE); {disc} stands for the folder "
                     "that holds a FILE's HVDVD_TS or VIDEO_TS")
        ->check(CLI::Validator(CheckFolder, ""))
        ->type_name("DIR");
    AddStreamsOption(*command, options->streams,
                     "take only these streams: comma-separated box names (cbVideo0, cbAudio01, cbSub03) or "
                     "captions (DD.stream.01)");
    command
        ->add_option("--playlist", options->playlist,
                     "the playlist whose languages, track names and chapters go into the .mkv (default: " +
                         ExamplePath("../ADV_OBJ/VPLST000.XPL") + " beside a source in HVDVD_TS, when it exists)")
        ->type_name("XPL");
    command->add_option("--palette", options->palette, "the IFO whose palette colours DVD subpictures")
        ->type_name("IFO");
    command->add_flag("--keep", options->keep,
                      "keep the demuxed files (in " + ExamplePath("DIR/.NAME.halyard") +
                          ") and NAME.mkvmerge.json beside the .mkv");
    command->add_option("FILE", options->files, "the .EVO, .VOB or .AOB sources, each in turn")
        ->required()
        ->type_name("");

    return {command, "mkv [options] [--streams LIST] [--output DIR] [--playlist XPL] [--keep] FILE...", [options] {
                // mkvmerge, and names that two sources would share, are checked before any work.
                std::string mkvmerge;
                const int checked = Session(false).run([&] {
                    mkvmerge = LocateMkvmerge();
                    refuseNameClashes(*options);
                });
                if (checked != ExitSuccess)
                    return checked;
                int status = ExitSuccess;
                for (const std::string& file : options->files) {
                    const int one = runOne(*options, mkvmerge, file);
                    if (one == ExitInterrupted || CliUi::interrupted())
                        return ExitInterrupted;
                    if (one != ExitSuccess)
                        status = ExitFailure;
                }
                return status;
            }};
}

} // namespace halyard::cli
