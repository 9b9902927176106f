#pragma once
// The --streams option of the subcommands that write streams: which found streams to keep.
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace halyard {
class UiModel;
}

namespace halyard::cli {

// Adds --streams LIST (comma-separated box names or captions) to a subcommand; what it
// gives goes into streams, which stays empty without the option.
void AddStreamsOption(CLI::App& command, std::optional<std::vector<std::string>>& streams, const std::string& help);

// Unticks every box of a found stream that the list names neither by box name nor by
// caption, as a user unticks the streams not wanted. A name that fits no found stream
// is a usage error that lists the streams found.
void KeepListedStreams(UiModel& ui, const std::vector<std::string>& wanted);

// Whether any box that has an output is ticked.
bool AnyStreamTicked(UiModel& ui);

// A command that would write no stream fails instead of succeeding with nothing done:
// "No stream to demux: ..." when no box is ticked, after --streams (`listed`) or because
// FILE has no stream.
void RequireAStreamToWrite(UiModel& ui, bool listed, const std::string& file);

} // namespace halyard::cli
