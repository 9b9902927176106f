#include "rebuild/Rebuild.h"

#include <algorithm>

#include "engine/Progress.h"
#include "jobs/Paths.h"
#include "model/Error.h"

namespace halyard {

namespace {
constexpr int64_t Mebibyte = 1024 * 1024;
constexpr const char* RebuiltExtension = ".rebuilt.EVO";
} // namespace

void InstallRebuildJob(Jobs& jobs, RunState& state, UiModel& ui) {
    auto rebuild = std::make_shared<EvoRebuild>(jobs, state, ui);
    jobs.RebuildJob = [rebuild] { rebuild->bRebuildClick(); };
}

EvoRebuild::EvoRebuild(Jobs& jobs, RunState& state, UiModel& ui) : jobs_(jobs), state_(state), ui_(ui) {}

void EvoRebuild::bRebuildClick() {
    try {
        run();
    } catch (...) {
        finishAfterFailure();
        throw;
    }
}

void EvoRebuild::run() {
    // 1-2: buttons, output folder, the selection and a fresh id map.
    ui_.bDemux.enabled = ui_.bRebuild.enabled = false;
    ui_.currentPage = StatusPage;
    ui_.controlsChanged();
    const std::string folder = jobs_.outputFolder();
    state_.BusyFlag = true;
    packs_.emplace(RebuildSelection::From(state_.Catalogue, ui_), state_.FirstVideoPts, state_.LastVideoPts);

    // 3-4: names.
    bool hasSecondFile = false;
    const std::string second = jobs_.secondFileAndBaseName(hasSecondFile);
    const std::string outputPath = OutputPrefix(folder, jobs_.Paths.OutputBaseName) + RebuiltExtension;

    // 5-7: open the source, create the output.
    ui_.log("Opening file [b]" + jobs_.Paths.SourceFileName + "[/b]");
    ui_.slog("Opening", 0);
    jobs_.openSource(ui_.eEVOfile);
    ui_.log("File size: " + std::to_string(state_.SourceStream->size() / Mebibyte) + " Mbytes.");
    createOutput(outputPath, second);
    ui_.log("Creating " + outputPath);
    ui_.log("Rebuilding...");
    ui_.slog("Rebuilding " + FileNamePart(ui_.eEVOfile), 0);

    // 8-9: the source, then the second feature file into the same output.
    Rebuild();
    if (ui_.cbContinue && !state_.CancelFlag && hasSecondFile) {
        jobs_.openSource(second);
        const std::string name = FileNamePart(second);
        ui_.log("Continue on [b]" + name + "[/b]");
        ui_.log("Rebuilding...");
        ui_.slog("Rebuilding " + name, 0);
        Rebuild();
    }

    // 10-11: close, report, give the buttons back.
    state_.SourceStream.reset();
    std::unique_ptr<OutputStream> output = std::move(output_);
    output->close();
    ui_.log("Done.");
    ui_.log("");
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    ui_.bRebuild.enabled = ui_.bDemux.enabled = true;
    ui_.controlsChanged();
    state_.BusyFlag = false;
}

// Refused, with nothing touched, when the output is the source or the second feature
// file under another name (a link, another spelling of the path).
void EvoRebuild::createOutput(const std::string& path, const std::string& second) {
    std::vector<std::string> sources{ui_.eEVOfile};
    if (!second.empty())
        sources.push_back(second);
    output_ = std::move(OpenOutputs({path}, sources).front());
}

// Both files closed (a failure to close is not the one reported), and the window idle:
// Cancel off, Demux and Rebuild as the boxes say, no job busy.
void EvoRebuild::finishAfterFailure() {
    state_.SourceStream.reset();
    if (output_) {
        try {
            output_->close();
        } catch (const Error&) {
            // the first failure is the one reported
        }
        output_.reset();
    }
    state_.BusyFlag = false;
    ui_.bCancel.enabled = false;
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    jobs_.cbVideoClick();
}

void EvoRebuild::Rebuild() {
    ui_.bCancel.enabled = true;
    ui_.controlsChanged();
    state_.CancelFlag = false;
    startTime_ = std::chrono::steady_clock::now();

    SourceFile& source = *state_.SourceStream;
    const int64_t size = source.size();
    const std::string name = FileNamePart(source.path());
    uint8_t* const block = state_.BlockBuffer.data();

    // Reads a block of whole packs at a time; the packs kept in a row go out in one write.
    while (source.position() < size && !state_.CancelFlag) {
        const int64_t blockStart = source.position();
        const int64_t length = source.read(block, BlockSize);
        if (length == 0)
            break; // the file got shorter
        int64_t keptFrom = 0;
        int64_t keptTo = 0;
        int64_t offset = 0;
        while (offset < length) {
            const int64_t packLength = std::min<int64_t>(int64_t(PackSize), length - offset);
            if (packs_->rebuildPack(block + offset, size_t(packLength))) {
                if (keptTo != offset) {
                    output_->write(block + keptFrom, size_t(keptTo - keptFrom));
                    keptFrom = offset;
                }
                keptTo = offset + packLength;
            }
            offset += packLength;
            const int64_t position = blockStart + offset;
            if (position % ProgressInterval == 0)
                showProgress(position, size, name);
            if (state_.CancelFlag)
                break;
        }
        output_->write(block + keptFrom, size_t(keptTo - keptFrom));
    }

    ui_.bCancel.enabled = false;
    ui_.controlsChanged();
}

void EvoRebuild::showProgress(int64_t position, int64_t size, const std::string& name) {
    ui_.slog("Rebuilding " + name + " " + ProgressText(startTime_, position, size), 1);
    ui_.progress(position, size);
    ui_.pumpEvents();
}

} // namespace halyard
