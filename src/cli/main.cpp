// halyard-cli: the jobs of the window from the command line, one subcommand each.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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

// "--option=" with nothing after the "=" is an empty value. The parser would take the
// argument after it for the value instead (the source FILE, say): it is given the
// empty value as an argument of its own.
std::vector<std::string> withEmptyValuesSplit(int argc, char** argv) {
    std::vector<std::string> arguments;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        options = options && argument != "--";
        if (options && argument.size() > 3 && argument.rfind("--", 0) == 0 && argument.back() == '=' &&
            argument.find('=') == argument.size() - 1) {
            arguments.push_back(argument.substr(0, argument.size() - 1));
            arguments.emplace_back();
        } else {
            arguments.push_back(argument);
        }
    }
    return arguments;
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
        std::vector<std::string> arguments = withEmptyValuesSplit(argc, argv);
        std::reverse(arguments.begin(), arguments.end()); // as the parser takes them
        app.parse(arguments);
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
