// Demux: one elementary stream file per ticked box, written by the engine in demux
// mode over the source and its second feature file.
#include "engine/Demux.h"
#include "model/Error.h"
#include "jobs/Jobs.h"
#include "jobs/Paths.h"

namespace halyard {

namespace {
constexpr int64_t Mebibyte = 1024 * 1024;
} // namespace

void Jobs::bDemuxClick() {
    if (jobRunning_)
        return;
    JobGuard guard(jobRunning_);
    demuxOrHandOn();
}

// The Demux job, or what a front end puts in its place (a demux that goes on to
// Matroska).
void Jobs::demuxOrHandOn() {
    if (DemuxJob)
        DemuxJob();
    else
        demuxJob();
}

void Jobs::demuxWithinJob() {
    demuxJob();
}

bool Jobs::runJob(const std::function<void()>& job) {
    if (jobRunning_)
        return false;
    JobGuard guard(jobRunning_);
    job();
    return true;
}

void Jobs::demuxWithinJob(const DemuxSettings& settings) {
    demuxSettings_ = settings;
    try {
        demuxJob();
    } catch (...) {
        demuxSettings_.reset();
        throw;
    }
    demuxSettings_.reset();
}

// Outputs go to the output folder, or beside the source when none is set.
std::string Jobs::outputFolder() const {
    if (demuxSettings_)
        return demuxSettings_->folder;
    if (!ui_.eWorkdir.empty())
        return ui_.eWorkdir;
    const std::string sourceFolder = FolderPart(ui_.eEVOfile);
    return sourceFolder.empty() ? std::string(".") + PathSeparator : sourceFolder;
}

// LPCM (0xA0-0xA7) of an .EVO or .VOB source, with "lpcmWav" on. DVD-Audio LPCM has
// a header of its own, and 0xA1 of an .AOB source is MLP.
bool Jobs::writesWav(size_t audioSlot) const {
    const int32_t type = readAudioType_[audioSlot];
    const bool wav = demuxSettings_ ? demuxSettings_->lpcmWav : ui_.lpcmWav;
    return wav && (type & 0xF8) == 0xA0 && UpperExtension(ui_.eEVOfile) != ".AOB";
}

// One output per ticked box, all opened at once: none is created or emptied unless
// every one can be, and none may be a file the job reads. An LPCM slot written as WAV
// gets a WAV writer over its file.
void Jobs::createOutputs(const std::string& prefix, const std::vector<std::string>& sources) {
    std::vector<std::unique_ptr<OutputStream>*> slots;
    std::vector<std::unique_ptr<LpcmWavOutput>*> wavSlots;
    std::vector<std::string> paths;
    auto add = [&](std::unique_ptr<OutputStream>& output, const StreamBox& box, const std::string& extension,
                   std::unique_ptr<LpcmWavOutput>* wav = nullptr) {
        if (!box.ticked)
            return;
        slots.push_back(&output);
        wavSlots.push_back(wav);
        paths.push_back(prefix + "." + box.caption + "." + (wav ? "wav" : extension));
    };
    for (size_t slot = 0; slot < state_.VideoOutput.size(); ++slot)
        add(state_.VideoOutput[slot], ui_.cbVideo[slot], ui_.eVideoExt);
    for (size_t slot = 0; slot < state_.AudioOutput.size(); ++slot)
        add(state_.AudioOutput[slot], ui_.cbAudio[slot], ui_.eAudioExt,
            writesWav(slot) ? &state_.AudioWavOutput[slot] : nullptr);
    for (size_t slot = 0; slot < state_.SubpictureOutput.size(); ++slot)
        add(state_.SubpictureOutput[slot], ui_.cbSub[slot], ui_.eSubExt);

    std::vector<std::unique_ptr<OutputStream>> outputs = OpenOutputs(paths, sources);
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (wavSlots[i])
            *wavSlots[i] = std::make_unique<LpcmWavOutput>(std::move(outputs[i]));
        else
            *slots[i] = std::move(outputs[i]);
        ui_.log("Creating " + paths[i]);
    }
}

// Where each subpicture output's records of the second file will begin: the records
// carry no mark of the file they come from.
void Jobs::noteSecondFileOffsets() {
    for (size_t slot = 0; slot < state_.SubpictureOutput.size(); ++slot) {
        if (OutputStream* output = state_.SubpictureOutput[slot].get()) {
            output->flush();
            SecondFileSubpictureOffset[slot] = output->written();
        }
    }
}

void Jobs::demuxJob() {
    // 1-5: buttons, run state, names.
    ui_.bDemux.enabled = ui_.bRebuild.enabled = false;
    ui_.currentPage = StatusPage;
    ui_.controlsChanged();
    const std::string folder = outputFolder();
    state_.PictureCounter = {};
    state_.TotalDuration = 0;
    state_.BusyFlag = true;
    bool hasSecondFile = false;
    const std::string second = secondFileAndBaseName(hasSecondFile);
    const std::string prefix = OutputPrefix(folder, Paths.OutputBaseName);

    // 6-13: open, create, write; everything opened is closed however this ends.
    try {
        ui_.log("Opening file " + Paths.SourceFileName);
        ui_.slog("Opening", 0);
        openSource(ui_.eEVOfile);
        ui_.log("File size: " + std::to_string(state_.SourceStream->size() / Mebibyte) + " Mbytes.");
        createOutputs(prefix, inputFiles());
        ui_.log("Demuxing...");
        ui_.slog("Demuxing " + FileNamePart(ui_.eEVOfile), 0);
        demux(state_, ui_, ProcessMode::Demux);

        SecondFileSubpictureOffset.fill(std::nullopt);
        if (ui_.cbContinue && !state_.CancelFlag && hasSecondFile) {
            noteSecondFileOffsets();
            continueOnSecondFile(second, ProcessMode::Demux);
        }
        state_.closeAll();
    } catch (...) {
        try {
            state_.closeAll();
        } catch (const Error&) {
            // the first failure is the one reported
        }
        // The user can correct the cause and press Demux again.
        state_.BusyFlag = false;
        ui_.slog("Ready", 0);
        ui_.slog("", 1);
        cbVideoClick();
        throw;
    }

    // 14-16: report and give the buttons back.
    ui_.log("Done.");
    ui_.log("");
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    logframes(hasSecondFile);
    ui_.bDemux.enabled = ui_.bRebuild.enabled = true;
    ui_.controlsChanged();
    state_.BusyFlag = false;
}

} // namespace halyard
