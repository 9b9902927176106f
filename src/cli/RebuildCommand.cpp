// halyard-cli rebuild: the Read EVO job, then the Rebuild job over the streams found (or
// those that --streams names).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/Command.h"
#include "handoff/JsonReport.h"
#include "cli/ReadOptions.h"
#include "cli/Session.h"
#include "cli/StreamList.h"
#include "jobs/Paths.h"
#include "rebuild/Rebuild.h"

namespace halyard::cli {

namespace {

struct RebuildOptions {
    ReadOptions read;
    std::string outputDir;
    std::optional<std::vector<std::string>> streams;
};

} // namespace

Command AddRebuildCommand(CLI::App& app) {
    auto options = std::make_shared<RebuildOptions>();
    CLI::App* command = app.add_subcommand(
        "rebuild", "Reads FILE, then writes NAME.rebuilt.EVO with only its ticked streams, renumbered, beside FILE "
                   "or into DIR.");
    AddReadOptions(*command, options->read);
    command->add_option("--output", options->outputDir, "output folder (default: the folder of FILE)")
        ->check(CLI::Validator(CheckFolder, ""))
        ->type_name("DIR");
    AddStreamsOption(*command, options->streams,
                     "keep only these streams: comma-separated box names (cbVideo0, cbAudio01, cbSub03) or "
                     "captions (DD.stream.01)");

    return {command, "rebuild [options] [--streams LIST] [--output DIR] FILE", [options] {
                Session session(options->read.markup);
                ApplyReadOptions(options->read, session.ui);
                session.ui.eWorkdir = options->outputDir;
                session.jobs.EVOadj();
                const std::shared_ptr<EvoRebuild> rebuild = InstallRebuildJob(session.jobs, *session.state, session.ui);
                if (options->read.json)
                    session.printJsonInsteadOfLog();
                return session.run([&] {
                    // The window offers Rebuild only for an .EVO source.
                    if (UpperExtension(options->read.file) != ".EVO")
                        throw UsageError("rebuild takes an .EVO source, not \"" + options->read.file + "\"");
                    session.jobs.bReadEVOClick();
                    if (CliUi::interrupted())
                        return;
                    // The report of the read: Rebuild's own log lines are not a read's.
                    const RunReport read = session.report.report();
                    if (options->streams)
                        KeepListedStreams(session.ui, *options->streams);
                    RequireAStreamToWrite(session.ui, options->streams.has_value(), options->read.file);
                    session.jobs.cbVideoClick();
                    session.jobs.bRebuildClick();
                    if (options->read.json && !CliUi::interrupted()) {
                        nlohmann::ordered_json document = ReportJson(read, "rebuild");
                        document["outputs"] = nlohmann::ordered_json::array({RebuildOutputJson(rebuild->result())});
                        session.ui.print(JsonText(document));
                    }
                });
            }};
}

} // namespace halyard::cli
