// halyard-cli: the jobs of the window from the command line, one subcommand each.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cli/Command.h"
#include "model/OutputStream.h"

using namespace halyard::cli;

namespace {

std::string usage(const std::vector<Command>& commands) {
    std::string text;
    for (const Command& command : commands)
        text += std::string(text.empty() ? "Usage: " : "       ") + "halyard-cli " + command.usage + "\n";
    return text + "Run \"halyard-cli --help\" or \"halyard-cli COMMAND --help\" for the options.\n";
}

bool isCommand(const std::vector<Command>& commands, const std::string& name) {
    for (const Command& command : commands)
        if (command.app->get_name() == name)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (!halyard::HoldStandardDescriptors()) {
        std::fprintf(stderr, "halyard-cli: standard output is closed\n");
        return ExitFailure;
    }
    halyard::IgnoreFileSizeSignal();
    CLI::App app("Reads HD DVD .EVO, DVD-Video .VOB and DVD-Audio .AOB program streams: logs their streams and "
                 "their coding parameters, and writes them as elementary stream files.",
                 "halyard-cli");
    app.set_version_flag("--version", std::string("halyard-cli ") + HALYARD_VERSION);
    app.require_subcommand(1);
    const std::vector<Command> commands = AddCommands(app);
    try {
        if (argc > 1 && argv[1][0] != '-' && !isCommand(commands, argv[1]))
            throw CLI::ParseError("unknown command \"" + std::string(argv[1]) + "\"", ExitUsage);
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done); // --help and --version, on stdout
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "halyard-cli: %s\n\n%s", error.what(), usage(commands).c_str());
        return ExitUsage;
    }
    for (const Command& command : commands)
        if (command.app->parsed())
            return command.run();
    return ExitUsage;
}
