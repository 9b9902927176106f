#include "cli/StreamList.h"

#include <CLI/CLI.hpp>

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
    command
        .add_option_function<std::vector<std::string>>(
            "--streams",
            [&streams](const std::vector<std::string>& names) {
                streams.emplace();
                for (const std::string& name : names)
                    if (!name.empty())
                        streams->push_back(name);
            },
            help)
        ->delimiter(',')
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
