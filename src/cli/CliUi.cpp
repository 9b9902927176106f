#include "cli/CliUi.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "cli/TerminalLog.h"

namespace halyard {

namespace {
volatile std::sig_atomic_t interruptRequested = 0;

void onSigint(int) {
    interruptRequested = 1;
}
} // namespace

CliUi::CliUi(RunState& state, bool markup)
    : state_(state), markup_(markup), stdoutTerminal_(::isatty(STDOUT_FILENO) == 1),
      stderrTerminal_(::isatty(STDERR_FILENO) == 1) {}

void CliUi::log(std::string_view line) {
    if (onLog)
        onLog(line);
    if (quiet)
        return;
    std::string text;
    if (markup_)
        text = std::string(line);
    else if (stdoutTerminal_)
        text = RenderAnsi(ParseMarkup(line));
    else
        text = RenderPlain(ParseMarkup(line));
    if (statusShown_ && stdoutTerminal_)
        finishStatus();
    text += '\n';
    print(text);
}

void CliUi::print(const std::string& text) {
    if (stdoutError_ != 0)
        return;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        stdoutError_ = errno != 0 ? errno : EIO;
}

int CliUi::finishLog() {
    if (stdoutError_ == 0 && std::fflush(stdout) != 0)
        stdoutError_ = errno != 0 ? errno : EIO;
    return stdoutError_;
}

void CliUi::slog(std::string_view text, int panel) {
    if (!stderrTerminal_ || panel != 1 || text.empty())
        return;
    finishLog();
    std::fprintf(stderr, "\r\033[K%.*s", int(text.size()), text.data());
    std::fflush(stderr);
    statusShown_ = true;
}

void CliUi::finishStatus() {
    if (!statusShown_)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    statusShown_ = false;
}

void CliUi::pumpEvents() {
    finishLog();
    if (interruptRequested && !state_.CancelFlag) {
        if (onInterrupt)
            onInterrupt();
        else
            state_.CancelFlag = true;
    }
}

void CliUi::installInterruptHandler() {
    struct sigaction action{};
    action.sa_handler = onSigint;
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the program at once
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

bool CliUi::interrupted() {
    return interruptRequested != 0;
}

} // namespace halyard
