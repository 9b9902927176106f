#include "cli/CliUi.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "cli/TerminalLog.h"
#include "model/platform/Console.h"

namespace halyard {

using platform::StandardStream;

CliUi::CliUi(RunState& state, bool markup)
    : state_(state), markup_(markup), stdoutTerminal_(platform::IsTerminal(StandardStream::Output)),
      stdoutSequences_(platform::TakesTerminalSequences(StandardStream::Output)),
      stderrTerminal_(platform::IsTerminal(StandardStream::Error)),
      stderrSequences_(platform::TakesTerminalSequences(StandardStream::Error)) {}

void CliUi::log(std::string_view line) {
    if (onLog)
        onLog(line);
    if (quiet)
        return;
    std::string text;
    if (markup_)
        text = std::string(line);
    else if (stdoutSequences_)
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
    eraseStatus();
    std::fprintf(stderr, "%.*s", int(text.size()), text.data());
    std::fflush(stderr);
    statusShown_ = true;
    statusWidth_ = text.size();
}

// Back to the start of the status line, emptied.
void CliUi::eraseStatus() {
    if (stderrSequences_) {
        std::fputs("\r\033[K", stderr);
    } else if (statusShown_) {
        std::fprintf(stderr, "\r%*s\r", int(statusWidth_), "");
    } else {
        std::fputs("\r", stderr);
    }
}

void CliUi::finishStatus() {
    if (!statusShown_)
        return;
    eraseStatus();
    std::fflush(stderr);
    statusShown_ = false;
}

void CliUi::pumpEvents() {
    finishLog();
    if (interrupted() && !state_.CancelFlag) {
        if (onInterrupt)
            onInterrupt();
        else
            state_.CancelFlag = true;
    }
}

void CliUi::installInterruptHandler() {
    platform::InstallInterruptHandler();
}

bool CliUi::interrupted() {
    return platform::Interrupted();
}

} // namespace halyard
