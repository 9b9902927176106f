#include "cli/CliOptions.h"

#include <cctype>

namespace halyard {

const char* const CliUsage =
    "Usage: halyard-cli read [options] FILE\n"
    "       halyard-cli demux [options] [--output DIR] FILE\n"
    "\n"
    "Reads an HD DVD .EVO, DVD-Video .VOB or DVD-Audio .AOB program stream, logs its\n"
    "streams and their coding parameters (read), or writes them as elementary stream\n"
    "files (demux), beside FILE or into DIR.\n"
    "\n"
    "Options:\n"
    "  --no-fast-check     read the whole file, not only its first --fast-size MiB\n"
    "  --fast-size N       size of the fast check in MiB (0-999, default 300)\n"
    "  --no-count-frames   do not count video frames\n"
    "  --no-details        do not log stream details\n"
    "  --video-ext EXT     extension of video outputs (default mpv)\n"
    "  --audio-ext EXT     extension of audio outputs (default mpa)\n"
    "  --sub-ext EXT       extension of subpicture outputs (default sup)\n"
    "  --streams LIST      demux only these streams: comma-separated box names\n"
    "                      (cbVideo0, cbAudio01, cbSub03) or captions (DD.stream.01)\n"
    "  --output DIR        output folder (demux; default: the folder of FILE)\n"
    "  --no-continue       do not continue into the second feature file\n"
    "                      (FEATURE_1.EVO into FEATURE_2.EVO)\n"
    "  --markup            print log lines with their markup tags\n";

namespace {
bool parseFastSize(const std::string& text, int& value) {
    if (text.empty() || text.size() > 3)
        return false;
    for (char ch : text)
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
    value = std::stoi(text);
    return true;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        if (comma > start)
            items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}
} // namespace

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error) {
    CliOptions options;
    if (args.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    options.command = args[0];
    if (options.command != "read" && options.command != "demux") {
        error = "unknown command \"" + options.command + "\"";
        return std::nullopt;
    }
    std::vector<std::string> files;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--no-fast-check") {
            options.fastCheck = false;
        } else if (arg == "--fast-size") {
            if (!value(text))
                return std::nullopt;
            if (!parseFastSize(text, options.fastSize)) {
                error = "--fast-size takes a number of at most three digits";
                return std::nullopt;
            }
        } else if (arg == "--no-count-frames") {
            options.countFrames = false;
        } else if (arg == "--no-details") {
            options.details = false;
        } else if (arg == "--video-ext") {
            if (!value(options.videoExt))
                return std::nullopt;
        } else if (arg == "--audio-ext") {
            if (!value(options.audioExt))
                return std::nullopt;
        } else if (arg == "--sub-ext") {
            if (!value(options.subExt))
                return std::nullopt;
        } else if (arg == "--output") {
            if (!value(options.outputDir))
                return std::nullopt;
        } else if (arg == "--streams") {
            if (!value(text))
                return std::nullopt;
            options.streams = splitList(text);
        } else if (arg == "--no-continue") {
            options.continueSecond = false;
        } else if (arg == "--markup") {
            options.markup = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 1) {
        error = files.empty() ? "no FILE given" : "more than one FILE given";
        return std::nullopt;
    }
    options.file = files[0];
    return options;
}

} // namespace halyard
