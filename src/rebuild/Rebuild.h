#pragma once
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "jobs/Jobs.h"
#include "model/OutputStream.h"
#include "model/RunState.h"
#include "model/UiModel.h"
#include "rebuild/PackRebuilder.h"

namespace halyard {

// Plugs the Rebuild job into the jobs, so that the "Rebuild" button and "Auto Rebuild"
// after Read EVO run it.
void InstallRebuildJob(Jobs& jobs, RunState& state, UiModel& ui);

// Rebuild: a new program stream, NAME.rebuilt.EVO in the output folder, that holds only
// the ticked streams of the source (and of its second feature file), renumbered, with
// the system headers and navigation data corrected to match. It relies on the catalogue,
// the boxes and the video time span that Read EVO left.
class EvoRebuild {
public:
    EvoRebuild(Jobs& jobs, RunState& state, UiModel& ui);

    // The job: opens the source, creates the output, runs Rebuild over the source and
    // the second feature file, closes both. After a failure the files are closed, the
    // controls and BusyFlag are idle again, and the error goes on to the caller.
    void bRebuildClick();

    // Copies the open source, from its position to its end, pack by pack into the
    // output: what the pack rebuilder keeps, as it rewrites it. Stops after the pack in
    // hand when CancelFlag is set.
    void Rebuild();

private:
    void run();
    void createOutput(const std::string& path, const std::string& second);
    void showProgress(int64_t position, int64_t size, const std::string& name);
    void finishAfterFailure();

    Jobs& jobs_;
    RunState& state_;
    UiModel& ui_;
    std::optional<PackRebuilder> packs_;
    std::unique_ptr<OutputStream> output_;
    std::chrono::steady_clock::time_point startTime_;
};

} // namespace halyard
