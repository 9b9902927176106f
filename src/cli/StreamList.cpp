#include "cli/StreamList.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Command.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"
#include "model/UiModel.h"

namespace halyard::cli {

namespace {

// Calls visit(box, box name) for every stream box that has an output.
template <typename Visit>
void forEachBox(UiModel& ui, Visit visit) {
    for (size_t slot = 0; slot < 2; ++slot)
        visit(ui.cbVideo[slot], VideoBoxName(int(slot)));
    for (size_t slot = 0; slot < ui.cbAudio.size(); ++slot)
        visit(ui.cbAudio[slot], AudioBoxName(int(slot)));
    for (size_t slot = 0; slot < ui.cbSub.size(); ++slot)
        visit(ui.cbSub[slot], SubpictureBoxName(int(slot)));
}
} // namespace

void AddStreamsOption(CLI::App& command, std::optional<std::vector<std::string>>& streams, const std::string& help) {
    // One value, split here: an option that took several values would swallow the
    // arguments after an empty list ("--streams , FILE").
    command
        .add_option_function<std::string>(
            "--streams",
            [&streams](const std::string& list) {
                streams.emplace();
                for (size_t from = 0; from <= list.size();) {
                    const size_t comma = std::min(list.find(',', from), list.size());
                    if (comma > from)
                        streams->push_back(list.substr(from, comma - from));
                    from = comma + 1;
                }
            },
            help)
        ->type_name("LIST");
}

void KeepListedStreams(UiModel& ui, const std::vector<std::string>& wanted) {
    std::vector<bool> matched(wanted.size(), false);
    std::string found;
    forEachBox(ui, [&](StreamBox& box, const std::string& name) {
        if (!box.ticked)
            return;
        found += (found.empty() ? "" : ", ") + box.caption;
        bool listed = false;
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (wanted[i] == name || wanted[i] == box.caption) {
                matched[i] = true;
                listed = true;
            }
        }
        box.ticked = listed;
    });
    std::string unknown;
    for (size_t i = 0; i < wanted.size(); ++i)
        if (!matched[i])
            unknown += (unknown.empty() ? "\"" : ", \"") + wanted[i] + "\"";
    if (!unknown.empty())
        throw UsageError("--streams: no stream " + unknown + " was found. Streams found: " +
                         (found.empty() ? "none" : found));
}

bool AnyStreamTicked(UiModel& ui) {
    bool any = false;
    forEachBox(ui, [&](StreamBox& box, const std::string&) { any = any || box.ticked; });
    return any;
}

void RequireAStreamToWrite(UiModel& ui, bool listed, const std::string& file) {
    if (AnyStreamTicked(ui))
        return;
    if (listed)
        throw Error("No stream to demux: --streams selects none of the streams found");
    throw Error("No stream to demux: none was found in \"" + file + "\"");
}

} // namespace halyard::cli
