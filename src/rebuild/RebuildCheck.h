#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard {

// A stream that Rebuild kept: its id in the source and in the rebuilt file, the packets
// and payload bytes that Rebuild's pass kept of it from the source, and what the check
// found of it in the rebuilt file.
struct RebuiltStream {
    uint8_t sourceId = 0;
    uint8_t newId = 0;
    StreamCount kept;
    StreamCount found;
};

// How an id names its stream: "stream 0xE0", "stream id extension 0x55", "substream 0x80".
std::string StreamIdText(uint8_t id);

// The stream as a demux of the rebuilt file names it, with its ids: "DD.stream.00
// (substream 0x80, 0x82 in the source)".
std::string RebuiltStreamName(const RebuiltStream& stream);

// Reads the rebuilt file at `path` as a read run of the engine does (without details,
// frame counting or the fast check, logging nothing), with a run state of its own, and
// fills in what it finds of each stream. Raises an Error when a stream has other
// counts than Rebuild kept, or when another stream's packets fall into its slot (a
// demux would mix them), naming the stream, the counts and the output `keptAs`.
// Progress and Cancel go through `ui` and `state`; returns false when cancelled.
bool CheckRebuiltFile(const std::string& path, std::vector<RebuiltStream>& streams, RunState& state, UiModel& ui,
                      const std::string& keptAs);

} // namespace halyard
