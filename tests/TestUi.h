#pragma once
// Test doubles for the user interface and a harness that runs an analyser over bytes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysers/AnalyserContext.h"
#include "model/MessageMarkup.h"
#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard::test {

// Records every log line (with its markup) and status text.
class RecordingUi : public UiModel {
public:
    std::vector<std::string> lines;
    std::vector<std::string> status[2];
    int pumps = 0;
    int refreshes = 0;
    RunState* cancelOnPump = nullptr; // a Cancel pressed during the first pump

    void log(std::string_view line) override { lines.emplace_back(line); }
    void slog(std::string_view text, int panel) override { status[panel & 1].emplace_back(text); }
    void pumpEvents() override {
        ++pumps;
        if (cancelOnPump)
            cancelOnPump->CancelFlag = true;
    }
    void refresh() override { ++refreshes; }

    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    std::string joined() const {
        std::string all;
        for (const auto& line : lines)
            all += line + "\n";
        return all;
    }
};

// A run state whose block holds the given bytes at offset `at`, and a context over it.
struct AnalyserHarness {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    RecordingUi ui;
    AnalyserContext context{*state, ui, 0, false};

    explicit AnalyserHarness(const std::vector<uint8_t>& bytes, int64_t at = 0, bool aob = false) {
        state->Tables.fill();
        std::copy(bytes.begin(), bytes.end(), state->BlockBuffer.begin() + at);
        context.blockLength = at + int64_t(bytes.size());
        context.aobSource = aob;
    }
};

} // namespace halyard::test
