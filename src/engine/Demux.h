#pragma once
#include <cstdint>

#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard {

enum class ProcessMode : uint8_t {
    ReadAnalyse = 0, // announce the streams and log their details
    Demux = 1,       // write the payloads of the ticked streams
};

// Scans RunState::SourceStream from its current position to its end (or until
// CancelFlag, or the fast-check size in a read run) and takes every packet apart.
// In Demux mode the engine writes the streams that have an output in the run state
// (the Demux job creates one per ticked box); a failed write raises
// "Stream write error" and ends the run.
void demux(RunState& state, UiModel& ui, ProcessMode mode);

} // namespace halyard
