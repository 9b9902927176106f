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

// Checks an extension given on the command line; returns the complaint or "".
std::string CheckExtension(const std::string& extension);

// Checks an output folder given on the command line; returns the complaint or "".
std::string CheckFolder(const std::string& folder);

} // namespace halyard::cli
