#pragma once
#include "model/UiModel.h"

namespace halyard {

class TfMain;

// The user-interface model as the window implements it: each call goes to the window,
// which draws the log and the status bar and brings its widgets in line with the fields.
class WindowModel : public UiModel {
public:
    explicit WindowModel(TfMain& window) : window_(window) {}

    void log(std::string_view line) override;
    void slog(std::string_view text, int panel) override;
    void clearLog() override;
    void pumpEvents() override;
    void refresh() override;
    bool confirm(std::string_view question, bool defaultYes) override;
    void controlsChanged() override;
    void playlistChanged() override;
    void progress(int64_t position, int64_t size) override;

private:
    TfMain& window_;
};

} // namespace halyard
