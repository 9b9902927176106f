#pragma once
#include <functional>
#include <string>

#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard {

// The command line's side of the user interface: log lines to stdout, status text to
// stderr (only on a terminal), Ctrl-C as the Cancel button.
class CliUi : public UiModel {
public:
    CliUi(RunState& state, bool markup);

    void log(std::string_view line) override;
    void slog(std::string_view text, int panel) override;
    void pumpEvents() override;
    // Ctrl-C is the user's answer: yes, stop.
    bool confirm(std::string_view, bool) override { return true; }

    // When set, log lines are not printed: for a command that prints something else.
    bool quiet = false;

    // What Ctrl-C does at the next pump (the Cancel button's handler).
    std::function<void()> onInterrupt;
    // Sees every log line, printed or not.
    std::function<void(std::string_view)> onLog;

    // Ends the status line on the terminal, if one was shown.
    void finishStatus();

    // Writes text to stdout as the log is written: a failure is noted for finishLog,
    // and after one nothing more is written there. For what a command prints instead
    // of the log (a JSON document, the memo, the tree).
    void print(const std::string& text);

    // Flushes stdout; returns the errno of the first failed write to it, or 0.
    int finishLog();

    static void installInterruptHandler();
    static bool interrupted();

private:
    void eraseStatus();

    RunState& state_;
    bool markup_;
    bool stdoutTerminal_;
    bool stdoutSequences_; // colours on stdout
    bool stderrTerminal_;
    bool stderrSequences_; // the status line erased by an escape sequence, else by spaces
    bool statusShown_ = false;
    size_t statusWidth_ = 0; // bytes of the status line shown
    int stdoutError_ = 0;
};

} // namespace halyard
