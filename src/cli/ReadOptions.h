#pragma once
// The options of a read, which every subcommand that reads a source takes.
#include <string>

namespace CLI {
class App;
}

namespace halyard {
class UiModel;
}

namespace halyard::cli {

struct ReadOptions {
    std::string file;
    bool noFastCheck = false;
    int fastSize = 300; // mebibytes
    bool noCountFrames = false;
    bool noDetails = false;
    bool noContinue = false;
    bool markup = false;
    bool json = false;
};

// Adds the read options and (withFile) the FILE argument to a subcommand.
void AddReadOptions(CLI::App& command, ReadOptions& options, bool withFile = true);

// Sets the window's options as the read options ask.
void ApplyReadOptions(const ReadOptions& options, UiModel& ui);

// Checks an extension given on the command line; returns the complaint or "". Both
// checks take their value as CLI11's validators do, so they are passed to it as they are.
std::string CheckExtension(std::string& extension);

// Checks an output folder given on the command line; returns the complaint or "".
std::string CheckFolder(std::string& folder);

// A path in an example of the help, written with "/", as the system writes it
// ("..\ADV_OBJ\VPLST000.XPL" on Windows).
std::string ExamplePath(std::string path);
// The same as one argument typed at the system's shell: quoted for a POSIX shell,
// which could take the characters of a pattern in it; cmd takes them as they are.
std::string ExampleArgument(const std::string& path);

} // namespace halyard::cli
