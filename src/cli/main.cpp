// halyard-cli: the command-line front end over the engine.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliUi.h"
#include "engine/Demux.h"
#include "engine/Error.h"
#include "jobs/Paths.h"
#include "jobs/StreamNames.h"

using namespace halyard;

namespace {

constexpr int64_t Mebibyte = 1024 * 1024;

void applyOptions(const CliOptions& options, CliUi& ui) {
    ui.eEVOfile = options.file;
    ui.cbFastCheck = options.fastCheck;
    ui.ieFastSize = options.fastSize;
    ui.cbCountFr = options.countFrames;
    ui.cbDetails = options.details;
}

void openSource(RunState& state, const std::string& path, CliUi& ui) {
    state.SourceStream = std::make_unique<SourceFile>(path);
    ui.log("File size: " + std::to_string(state.SourceStream->size() / Mebibyte) + " Mbytes.");
}

void readFile(RunState& state, CliUi& ui) {
    const std::string name = FileNamePart(ui.eEVOfile);
    ui.log("Opening file [b]" + name + "[/b]");
    state.PictureCounter = {};
    state.SlotFrameRate = {};
    state.TotalDuration = 0;
    state.EarliestPts = 0xFFFFFFFF;
    state.FirstVideoPts = 0;
    state.SourceStream = std::make_unique<SourceFile>(ui.eEVOfile);
    ui.log("Reading...");
    ui.slog("Reading " + name + " ", 0);
    ui.log("File size: " + std::to_string(state.SourceStream->size() / Mebibyte) + " Mbytes.");
    demux(state, ui, ProcessMode::ReadAnalyse);
    state.SourceStream.reset();
}

struct BoxRef {
    StreamBox* box;
    std::string name;
};

// Ticks and captions one box per found stream, as a read job leaves them.
std::vector<BoxRef> labelBoxes(RunState& state, CliUi& ui) {
    std::vector<BoxRef> boxes;
    auto label = [&](StreamBox& box, int32_t type, const std::string& stem, const std::string& suffix,
                     std::string name) {
        box.enabled = type >= 0;
        box.ticked = box.enabled;
        if (box.ticked)
            box.caption = stem + suffix;
        boxes.push_back({&box, std::move(name)});
    };
    for (int slot = 0; slot < 2; ++slot) {
        int32_t type = state.Catalogue.VideoType[size_t(slot)];
        label(ui.cbVideo[size_t(slot)], type, VideoStreamName(type), VideoSuffix(slot),
              "cbVideo" + std::to_string(slot));
    }
    for (int slot = 0; slot < 16; ++slot) {
        int32_t type = state.Catalogue.AudioType[size_t(slot)];
        label(ui.cbAudio[size_t(slot)], type, AudioStreamName(type), TwoDigitSuffix(slot),
              "cbAudio" + TwoDigitSuffix(slot).substr(1));
    }
    for (int slot = 0; slot < 16; ++slot) {
        int32_t type = state.Catalogue.SubpictureType[size_t(slot)];
        label(ui.cbSub[size_t(slot)], type, SubpictureStreamName(type), TwoDigitSuffix(slot),
              "cbSub" + TwoDigitSuffix(slot).substr(1));
    }
    return boxes;
}

// Unticks every box that the list names neither by box name nor by caption.
void selectStreams(std::vector<BoxRef>& boxes, const std::vector<std::string>& wanted) {
    for (BoxRef& ref : boxes) {
        bool listed = false;
        for (const std::string& item : wanted)
            listed = listed || item == ref.name || (ref.box->ticked && item == ref.box->caption);
        if (!listed)
            ref.box->ticked = false;
    }
}

void createOutputs(RunState& state, CliUi& ui, const CliOptions& options, const std::string& prefix) {
    auto create = [&](std::unique_ptr<OutputStream>& output, const StreamBox& box, const std::string& ext) {
        if (!box.ticked)
            return;
        std::string path = prefix + "." + box.caption + "." + ext;
        output = std::make_unique<OutputStream>(path);
        ui.log("Creating " + path);
    };
    for (size_t slot = 0; slot < 2; ++slot)
        create(state.VideoOutput[slot], ui.cbVideo[slot], options.videoExt);
    for (size_t slot = 0; slot < 16; ++slot)
        create(state.AudioOutput[slot], ui.cbAudio[slot], options.audioExt);
    for (size_t slot = 0; slot < 16; ++slot)
        create(state.SubpictureOutput[slot], ui.cbSub[slot], options.subExt);
}

void demuxFile(RunState& state, CliUi& ui, const CliOptions& options) {
    auto boxes = labelBoxes(state, ui);
    if (options.streams)
        selectStreams(boxes, *options.streams);
    const std::string name = FileNamePart(ui.eEVOfile);
    const std::string prefix = OutputPrefix(options.outputDir, CutExt(name));
    state.PictureCounter = {};
    state.TotalDuration = 0;
    state.BusyFlag = true;
    ui.log("Opening file " + name);
    ui.slog("Opening", 0);
    try {
        openSource(state, ui.eEVOfile, ui);
        createOutputs(state, ui, options, prefix);
        ui.log("Demuxing...");
        ui.slog("Demuxing " + name, 0);
        demux(state, ui, ProcessMode::Demux);
    } catch (...) {
        try {
            state.closeAll();
        } catch (const Error&) {
        }
        state.BusyFlag = false;
        throw;
    }
    state.closeAll();
    state.BusyFlag = false;
}

int run(const CliOptions& options) {
    auto state = std::make_unique<RunState>();
    CliUi ui(*state, options.markup);
    applyOptions(options, ui);
    CliUi::installInterruptHandler();
    try {
        readFile(*state, ui);
        if (options.command == "demux" && !state->CancelFlag)
            demuxFile(*state, ui, options);
        ui.log("Done.");
        ui.log("");
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
