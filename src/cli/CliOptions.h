#pragma once
#include <optional>
#include <string>
#include <vector>

namespace halyard {

// What the command line asked for.
struct CliOptions {
    std::string command; // "read" or "demux"
    std::string file;
    std::string outputDir;
    bool fastCheck = true;
    int fastSize = 300;
    bool countFrames = true;
    bool details = true;
    std::string videoExt = "mpv";
    std::string audioExt = "mpa";
    std::string subExt = "sup";
    bool markup = false;
    bool continueSecond = true;
    std::optional<std::vector<std::string>> streams;
};

// Parses argv; on a usage error returns nullopt and sets error.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const CliUsage;

} // namespace halyard
