// The registry of subcommands: each is defined in a file of its own and listed here.
#include <CLI/CLI.hpp>

#include "cli/Command.h"

namespace halyard::cli {

Command AddReadCommand(CLI::App& app);
Command AddDemuxCommand(CLI::App& app);
Command AddRebuildCommand(CLI::App& app);
Command AddXplCommand(CLI::App& app);
Command AddSubtitlesCommand(CLI::App& app);
Command AddMkvCommand(CLI::App& app);

std::vector<Command> AddCommands(CLI::App& app) {
    return {
        AddReadCommand(app),
        AddDemuxCommand(app),
        AddRebuildCommand(app),
        AddXplCommand(app),
        AddSubtitlesCommand(app),
        AddMkvCommand(app),
    };
}

} // namespace halyard::cli
