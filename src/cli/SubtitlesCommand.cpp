// halyard-cli subtitles: an "SP" subpicture file of an earlier demux converted to PGS.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <optional>

#include "cli/Command.h"
#include "cli/Session.h"
#include "subtitles/Palette.h"
#include "subtitles/PgsConversion.h"

namespace halyard::cli {

namespace {

struct SubtitlesOptions {
    std::string palette;
    std::string size;
    uint32_t earliestPts = 0;
    uint32_t videoPts = 0;
    std::string input;
    std::string output;
};

std::optional<std::pair<int, int>> parseSize(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size() ||
        text.find_first_not_of("0123456789", x + 1) != std::string::npos ||
        text.find_first_not_of("0123456789") != x || x > 4 || text.size() - x - 1 > 4)
        return std::nullopt;
    const int width = std::stoi(text.substr(0, x));
    const int height = std::stoi(text.substr(x + 1));
    if (width < 1 || height < 1 || width > 4096 || height > 4096)
        return std::nullopt;
    return std::pair{width, height};
}

std::string checkSize(std::string& text) {
    return parseSize(text) ? "" : "takes a size WxH, 1 to 4096 each (1920x1080)";
}

} // namespace

Command AddSubtitlesCommand(CLI::App& app) {
    auto options = std::make_shared<SubtitlesOptions>();
    CLI::App* command = app.add_subcommand(
        "subtitles", "Converts IN.sup, a subpicture file of an earlier demux, into Blu-ray PGS subtitles, OUT.sup.");
    command->add_option("--palette", options->palette, "the IFO file whose first program chain colours 2-bit subpictures")
        ->type_name("IFO");
    command->add_option("--size", options->size, "the video's size (default: 1920x1080 for HD DVD units, else 720x576 or 720x480)")
        ->check(CLI::Validator(checkSize, ""))
        ->type_name("WxH");
    command->add_option("--earliest-pts", options->earliestPts,
                        "earliest_pts of that demux's --json, in 90 kHz ticks (default 0)")
        ->type_name("N");
    command->add_option("--video-pts", options->videoPts,
                        "true_first_pts of its video stream in that --json, in 90 kHz ticks (default 0)")
        ->type_name("N");
    command->add_option("IN", options->input, "the .sup file of subpicture records")->required()->type_name("");
    command->add_option("OUT", options->output, "the PGS file to write")->required()->type_name("");

    return {command, "subtitles [--palette IFO] [--size WxH] [--earliest-pts N] [--video-pts N] IN.sup OUT.sup",
            [options] {
                Session session(false);
                return session.run([&] {
                    PgsConversion conversion;
                    conversion.input = options->input;
                    conversion.output = options->output;
                    if (!options->palette.empty()) {
                        conversion.palette = ReadIfoPalette(options->palette);
                        conversion.sources.push_back(options->palette);
                    }
                    if (!options->size.empty())
                        conversion.canvas = parseSize(options->size);
                    conversion.timeline.earliestPts = options->earliestPts;
                    conversion.timeline.videoPts = options->videoPts;
                    ConvertSupToPgs(conversion, [&session](const std::string& line) { session.ui.log(line); });
                });
            }};
}

} // namespace halyard::cli
