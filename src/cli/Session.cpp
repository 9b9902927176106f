#include "cli/Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Command.h"
#include "cli/JsonReport.h"
#include "model/Error.h"

namespace halyard::cli {

Session::Session(bool markup)
    : state(std::make_unique<RunState>()), ui(*state, markup), jobs(*state, ui), report(*state, ui) {
    ui.onInterrupt = [this] { jobs.bCancelClick(); };
    ui.onLog = [this](std::string_view line) { report.line(line); };
}

void Session::printJson(const std::string& command) const {
    const std::string text = JsonText(ReportJson(report.report(), command));
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int Session::run(const std::function<void()>& body) {
    CliUi::installInterruptHandler();
    int status = ExitSuccess;
    try {
        body();
        ui.finishStatus();
        if (CliUi::interrupted())
            status = ExitInterrupted;
    } catch (const UsageError& error) {
        ui.finishStatus();
        ui.finishLog();
        std::fprintf(stderr, "halyard-cli: %s\n", error.what());
        status = ExitUsage;
    } catch (const Error& error) {
        ui.finishStatus();
        ui.finishLog();
        std::fprintf(stderr, "%s\n", error.what());
        status = ExitFailure;
    }
    // A log that did not reach stdout (a full disk, a closed descriptor) is a failure;
    // a reader that went away (| head) ends the run quietly, as other tools do.
    const int logError = ui.finishLog();
    if (logError != 0 && logError != EPIPE)
        std::fprintf(stderr, "halyard-cli: cannot write the log to standard output: %s\n", std::strerror(logError));
    if (logError != 0 && status == ExitSuccess)
        status = ExitFailure;
    return status;
}

} // namespace halyard::cli
