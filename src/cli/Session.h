#pragma once
#include <functional>
#include <memory>

#include "cli/CliUi.h"
#include "jobs/Jobs.h"
#include "jobs/RunReport.h"
#include "model/RunState.h"

namespace halyard::cli {

// One run of jobs on the command line: the run state, the terminal's side of the user
// interface, and the jobs over them, with Ctrl-C as the Cancel button.
class Session {
public:
    explicit Session(bool markup);

    // Runs the body and gives the exit status: 0 when it ends well, 1 after an Error
    // (its text on stderr), 2 after a UsageError, 130 after Ctrl-C.
    int run(const std::function<void()>& body);

    std::unique_ptr<RunState> state;
    CliUi ui;
    Jobs jobs;
    // What the jobs found and wrote, for --json and --mkvmerge.
    RunReportCollector report;

    // Prints the report as a JSON document instead of the log; a run stopped by
    // Ctrl-C prints none.
    void printJsonInsteadOfLog() { ui.quiet = true; }
    void printJson(const std::string& command);
};

} // namespace halyard::cli
