#include "cli/ReadOptions.h"

#include <CLI/CLI.hpp>

#include "model/UiModel.h"
#include "model/platform/Platform.h"

namespace halyard::cli {

namespace {
// The fast-check size edit takes at most three digits.
std::string checkFastSize(std::string& text) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return "takes a number of at most three digits";
    return "";
}
} // namespace

void AddReadOptions(CLI::App& command, ReadOptions& options, bool withFile) {
    command.add_flag("--no-fast-check", options.noFastCheck, "read the whole file, not only its first --fast-size MiB");
    command.add_option("--fast-size", options.fastSize, "size of the fast check in MiB (0-999, default 300)")
        ->check(CLI::Validator(checkFastSize, ""))
        ->type_name("N");
    command.add_flag("--no-count-frames", options.noCountFrames, "do not count video frames");
    command.add_flag("--no-details", options.noDetails, "do not log stream details");
    command.add_flag("--no-continue", options.noContinue,
                     "do not continue into the second feature file (FEATURE_1.EVO into FEATURE_2.EVO)");
    command.add_flag("--markup", options.markup, "print log lines with their markup tags");
    command.add_flag("--json", options.json,
                     "print the results as one JSON document (format_version 1) instead of the log");
    if (withFile)
        command.add_option("FILE", options.file, "the .EVO, .VOB or .AOB source")->required()->type_name("");
}

void ApplyReadOptions(const ReadOptions& options, UiModel& ui) {
    ui.eEVOfile = options.file;
    ui.cbFastCheck = !options.noFastCheck;
    ui.ieFastSize = options.fastSize;
    ui.cbCountFr = !options.noCountFrames;
    ui.cbDetails = !options.noDetails;
    ui.cbContinue = !options.noContinue;
    ui.cbAutoRead = false;
}

std::string CheckExtension(std::string& extension) {
    if (extension.empty())
        return "an extension cannot be empty";
    if (extension.find_first_of("/\\") != std::string::npos)
        return "an extension cannot hold a path separator";
    return "";
}

std::string CheckFolder(std::string& folder) {
    return folder.empty() ? "the output folder cannot be empty" : "";
}

} // namespace halyard::cli

namespace halyard::cli {

std::string ExamplePath(std::string path) {
    for (char& ch : path)
        if (ch == '/')
            ch = platform::PathSeparator;
    return path;
}

std::string ExampleArgument(const std::string& path) {
    return platform::IsWindows ? ExamplePath(path) : "'" + path + "'";
}

} // namespace halyard::cli
