#pragma once
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Jobs.h"
#include "model/OutputStream.h"
#include "model/RunState.h"
#include "model/UiModel.h"
#include "rebuild/PackRebuilder.h"
#include "rebuild/RebuildCheck.h"
#include "rebuild/RebuiltPackWriter.h"

namespace halyard {

class EvoRebuild;

// Plugs the Rebuild job into the jobs, so that the "Rebuild" button and "Auto Rebuild"
// after Read EVO run it; returns the job, whose result a front end may report.
std::shared_ptr<EvoRebuild> InstallRebuildJob(Jobs& jobs, RunState& state, UiModel& ui);

// What the last rebuild that got through its check wrote.
struct RebuildResult {
    std::string path;                   // the rebuilt file
    std::vector<RebuiltStream> streams; // the kept streams, video, audio, subpictures, by new id
};

// Rebuild: a new program stream, NAME.rebuilt.EVO in the output folder, that holds only
// the ticked streams of the source (and of its second feature file), renumbered, with
// the system headers and navigation data corrected to match. It relies on the catalogue,
// the boxes, the streams of each file and the video time span that Read EVO left.
//
// The file is written as NAME.rebuilt.EVO.partial and takes its name only after the
// engine has read it back and found every kept stream with the packets and payload
// bytes that Rebuild kept of it. A failed, refused or cancelled run leaves at most the
// .partial file, and never replaces a source.
class EvoRebuild {
public:
    EvoRebuild(Jobs& jobs, RunState& state, UiModel& ui);

    // The job: plans the new ids, opens the source, creates the output, runs Rebuild over
    // the source and the second feature file, checks the output and gives it its name.
    // After a failure the files are closed, the controls and BusyFlag are idle again,
    // and the error goes on to the caller.
    void bRebuildClick();

    // Copies the whole packs of the open source, from its position to its end, into the
    // output: what the pack rebuilder keeps, as it rewrites it. Stops after the pack in
    // hand when CancelFlag is set.
    void Rebuild();

    const RebuildResult& result() const { return result_; }

private:
    void run();
    void plan(const std::vector<std::string>& sources);
    void check(const std::string& partial, const std::string& path, const std::vector<std::string>& sources);
    std::vector<RebuiltStream> keptStreams() const;
    void warnAboutStreamsWithoutSlot(const std::string& name);
    void showProgress(int64_t position, int64_t size, const std::string& name);
    void finishAfterFailure();

    Jobs& jobs_;
    RunState& state_;
    UiModel& ui_;
    std::optional<PackRebuilder> packs_;
    std::unique_ptr<OutputStream> output_;
    std::optional<RebuiltPackWriter> writer_;
    std::vector<const SourceStreamMap*> maps_;
    size_t file_ = 0;
    bool lastFile_ = true; // the file Rebuild reads ends the output
    size_t streamsWithoutSlotReported_ = 0;
    RebuildResult result_;
    std::chrono::steady_clock::time_point startTime_;
};

} // namespace halyard
