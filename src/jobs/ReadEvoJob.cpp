// Read EVO: scans the source (and its second feature file) in read-and-analyse mode,
// then offers the streams found as ticked, captioned boxes.
#include "engine/Demux.h"
#include "model/Error.h"
#include "jobs/Jobs.h"
#include "jobs/Paths.h"

namespace halyard {

namespace {
constexpr int64_t Mebibyte = 1024 * 1024;

// The engine starts each file with an empty catalogue, so after the second file it
// holds only what that file has. A stream that the second file lacks (a short or empty
// FEATURE_2) is still a stream of the feature: its slot keeps the first file's entry,
// so that its box is offered and Demux writes it.
void keepStreamsOfFirstFile(StreamCatalogue& catalogue, const StreamCatalogue& first) {
    auto keep = [](auto& now, const auto& before) {
        for (size_t slot = 0; slot < now.size(); ++slot)
            if (now[slot] == EmptySlot)
                now[slot] = before[slot];
    };
    keep(catalogue.VideoType, first.VideoType);
    keep(catalogue.AudioType, first.AudioType);
    keep(catalogue.SubpictureType, first.SubpictureType);
}

// The streams of the file the engine has just read, kept apart from the merged catalogue.
void mapSourceStreams(RunState& state, const std::string& path) {
    state.SourceMaps.push_back(SourceStreamMap{path, state.Catalogue, state.Tally});
}
} // namespace

Jobs::Jobs(RunState& state, UiModel& ui) : state_(state), ui_(ui) {
    readAudioType_.fill(EmptySlot);
}

void Jobs::bReadEVOClick() {
    if (jobRunning_)
        return;
    JobGuard guard(jobRunning_);
    readEvo();
}

// The second feature file's path when "Continue with second  EVO" applies, and the
// output base name extended by its name.
std::string Jobs::secondFileAndBaseName(bool& hasSecondFile) {
    Paths.OutputBaseName = CutExt(Paths.SourceFileName);
    hasSecondFile = false;
    if (!ui_.cbContinue)
        return "";
    std::string second = getsecond(ui_.eEVOfile);
    hasSecondFile = !second.empty();
    if (hasSecondFile)
        Paths.OutputBaseName.append("_").append(CutExt(FileNamePart(second)));
    return second;
}

std::vector<std::string> Jobs::inputFiles() const {
    std::vector<std::string> inputs;
    if (!ui_.eEVOfile.empty()) {
        inputs.push_back(ui_.eEVOfile);
        if (std::string second = getsecond(ui_.eEVOfile); !second.empty())
            inputs.push_back(std::move(second));
    }
    if (!ui_.eXPLfile.empty())
        inputs.push_back(ui_.eXPLfile);
    return inputs;
}

void Jobs::openSource(const std::string& path) {
    state_.SourceStream.reset();
    state_.SourceStream = std::make_unique<SourceFile>(path);
}

// Both jobs go on into the second feature file the same way.
void Jobs::continueOnSecondFile(const std::string& second, ProcessMode mode) {
    const char* word = mode == ProcessMode::Demux ? "Demuxing" : "Reading";
    state_.SourceStream.reset();
    openSource(second);
    ui_.log("");
    const std::string name = FileNamePart(second);
    ui_.log("Continue on [b]" + name + "[/b]");
    ui_.log(std::string(word) + "...");
    ui_.slog(std::string(word) + " " + name, 0);
    demux(state_, ui_, mode);
}

void Jobs::readEvo() {
    // 1-4: clear, disable, reset the boxes, show the log.
    if (ui_.cbAutoClear)
        ui_.clearLog();
    ui_.bReadEVO.enabled = false;
    const bool readXplWasEnabled = ui_.bReadXPL.enabled;
    ui_.bReadXPL.enabled = ui_.bDemux.enabled = ui_.bRebuild.enabled = false;
    ui_.bbEVO.enabled = ui_.bbXPL.enabled = false;
    Resetcbs();
    ui_.currentPage = StatusPage;
    ui_.controlsChanged();

    // 5-6: the run state and the second feature file.
    state_.PictureCounter = {};
    state_.SlotFrameRate = {};
    state_.StreamFrameRate = {};
    state_.EarliestPts = 0xFFFFFFFF;
    state_.FirstVideoPts = 0;
    state_.TotalDuration = 0;
    state_.SourceMaps.clear();
    bool hasSecondFile = false;
    const std::string second = secondFileAndBaseName(hasSecondFile);

    // 7-13: read the file(s); the source is closed however this ends.
    try {
        ui_.log("Opening file [b]" + Paths.SourceFileName + "[/b]");
        openSource(ui_.eEVOfile);
        ui_.log("Reading...");
        ui_.slog("Reading " + FileNamePart(ui_.eEVOfile) + " ", 0);
        ui_.log("File size: " + std::to_string(state_.SourceStream->size() / Mebibyte) + " Mbytes.");
        demux(state_, ui_, ProcessMode::ReadAnalyse);
        mapSourceStreams(state_, ui_.eEVOfile);

        if (ui_.cbContinue && !state_.CancelFlag && hasSecondFile) {
            const StreamCatalogue first = state_.Catalogue;
            continueOnSecondFile(second, ProcessMode::ReadAnalyse);
            mapSourceStreams(state_, second);
            keepStreamsOfFirstFile(state_.Catalogue, first);
        }
    } catch (...) {
        state_.SourceStream.reset();
        restoreAfterFailedRead(readXplWasEnabled);
        throw;
    }
    state_.SourceStream.reset();

    // 14-18: offer the streams, report, give the buttons back.
    readAudioType_ = state_.Catalogue.AudioType;
    labelStreamBoxes();
    ui_.log("Done.");
    ui_.log("");
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    logframes(hasSecondFile);
    ui_.bReadEVO.enabled = true;
    ui_.bReadXPL.enabled = readXplWasEnabled;
    ui_.bbEVO.enabled = ui_.bbXPL.enabled = true;
    cbVideoClick();

    // 19: the automatic process.
    if (ui_.autoProcess == AutoProcess::Demux)
        demuxOrHandOn();
    if (ui_.autoProcess == AutoProcess::Rebuild && RebuildJob)
        RebuildJob();
}

// A failed open leaves the user able to pick another source or read again.
void Jobs::restoreAfterFailedRead(bool readXplWasEnabled) {
    ui_.bReadEVO.enabled = !ui_.eEVOfile.empty();
    ui_.bReadXPL.enabled = readXplWasEnabled;
    ui_.bbEVO.enabled = ui_.bbXPL.enabled = true;
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    cbVideoClick();
}

} // namespace halyard
