// halyard-cli read: the Read EVO job.
#include <CLI/CLI.hpp>
#include <memory>

#include "cli/Command.h"
#include "cli/ReadOptions.h"
#include "cli/Session.h"

namespace halyard::cli {

Command AddReadCommand(CLI::App& app) {
    auto options = std::make_shared<ReadOptions>();
    CLI::App* command = app.add_subcommand(
        "read", "Scans FILE (and its second feature file) and logs its streams and their coding parameters.");
    AddReadOptions(*command, *options);
    return {command, "read [options] FILE", [options] {
                Session session(options->markup);
                ApplyReadOptions(*options, session.ui);
                session.jobs.EVOadj();
                if (options->json)
                    session.printJsonInsteadOfLog();
                return session.run([&] {
                    session.jobs.bReadEVOClick();
                    if (options->json)
                        session.printJson("read");
                });
            }};
}

} // namespace halyard::cli
