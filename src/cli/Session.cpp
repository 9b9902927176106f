#include "cli/Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Command.h"
#include "handoff/JsonReport.h"
#include "model/Error.h"
#include "playlist/XplAttributes.h"

namespace halyard::cli {

Session::Session(bool markup)
    : state(std::make_unique<RunState>()), ui(*state, markup), jobs(*state, ui), report(*state, ui) {
    ui.onInterrupt = [this] { jobs.bCancelClick(); };
    ui.onLog = [this](std::string_view line) { report.line(line); };
}

void Session::printJson(const std::string& command) {
    if (!CliUi::interrupted())
        ui.print(JsonText(ReportJson(report.report(), command)));
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
        // The place of a bad playlist value, unless the log showed it already.
        const auto* attribute = dynamic_cast<const AttributeValueError*>(&error);
        if (attribute && (!attribute->logged || ui.quiet))
            std::fprintf(stderr, "%s\n", attribute->context().c_str());
        std::fprintf(stderr, "%s\n", error.what());
        status = ExitFailure;
    }
    // A log or document that did not reach stdout (a full disk, a closed descriptor) is a failure;
    // a reader that went away (| head) ends the run quietly, as other tools do.
    const int logError = ui.finishLog();
    if (logError != 0 && logError != EPIPE)
        std::fprintf(stderr, "halyard-cli: cannot write the log to standard output: %s\n", std::strerror(logError));
    if (logError != 0 && status == ExitSuccess)
        status = ExitFailure;
    return status;
}

} // namespace halyard::cli
