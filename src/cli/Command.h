#pragma once
// The subcommands of halyard-cli and what they share.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace halyard::cli {

// One subcommand. Its Add function creates it on the program's app with its options
// and returns it; once the command line is parsed, main runs the one that was chosen.
struct Command {
    CLI::App* app = nullptr;
    std::string usage; // the synopsis after "halyard-cli ", e.g. "read [options] FILE"
    std::function<int()> run; // returns the exit status
};

// Every subcommand, added to app in the order of the usage text (Commands.cpp).
std::vector<Command> AddCommands(CLI::App& app);

// A usage error that shows only once a run has begun (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit statuses.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitInterrupted = 130;

} // namespace halyard::cli
