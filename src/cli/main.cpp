// halyard-cli: the Read EVO and Demux jobs from the command line.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliUi.h"
#include "model/Error.h"
#include "jobs/Jobs.h"

using namespace halyard;

namespace {

void applyOptions(const CliOptions& options, UiModel& ui) {
    ui.eEVOfile = options.file;
    ui.eWorkdir = options.outputDir;
    ui.cbFastCheck = options.fastCheck;
    ui.ieFastSize = options.fastSize;
    ui.cbCountFr = options.countFrames;
    ui.cbDetails = options.details;
    ui.cbContinue = options.continueSecond;
    ui.eVideoExt = options.videoExt;
    ui.eAudioExt = options.audioExt;
    ui.eSubExt = options.subExt;
    ui.cbAutoRead = false;
}

// Unticks every box that the list names neither by box name nor by caption, as a
// user unticks the streams not wanted.
void keepListedStreams(UiModel& ui, const std::vector<std::string>& wanted) {
    auto keep = [&](StreamBox& box, const std::string& name) {
        bool listed = false;
        for (const std::string& item : wanted)
            listed = listed || item == name || (box.ticked && item == box.caption);
        if (!listed)
            box.ticked = false;
    };
    for (size_t slot = 0; slot < ui.cbVideo.size(); ++slot)
        keep(ui.cbVideo[slot], "cbVideo" + std::to_string(slot));
    auto twoDigits = [](size_t slot) { return std::string(slot < 10 ? "0" : "") + std::to_string(slot); };
    for (size_t slot = 0; slot < ui.cbAudio.size(); ++slot)
        keep(ui.cbAudio[slot], "cbAudio" + twoDigits(slot));
    for (size_t slot = 0; slot < ui.cbSub.size(); ++slot)
        keep(ui.cbSub[slot], "cbSub" + twoDigits(slot));
}

int run(const CliOptions& options) {
    auto state = std::make_unique<RunState>();
    CliUi ui(*state, options.markup);
    Jobs jobs(*state, ui);
    ui.onInterrupt = [&jobs] { jobs.bCancelClick(); };
    applyOptions(options, ui);
    jobs.EVOadj();
    CliUi::installInterruptHandler();
    try {
        jobs.bReadEVOClick();
        if (options.command == "demux" && !CliUi::interrupted()) {
            if (options.streams)
                keepListedStreams(ui, *options.streams);
            jobs.cbVideoClick();
            jobs.bDemuxClick();
        }
        ui.finishStatus();
    } catch (const Error& error) {
        ui.finishStatus();
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::fflush(stdout);
    return CliUi::interrupted() ? 130 : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = ParseCliOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "halyard-cli: %s\n\n%s", error.c_str(), CliUsage);
        return 2;
    }
    return run(*options);
}
