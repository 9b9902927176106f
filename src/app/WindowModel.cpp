// The user-interface model's calls, as the window answers them.
#include "app/WindowModel.h"

#include "app/StatusPanels.h"
#include "app/TfMain.h"

namespace halyard {

void WindowModel::log(std::string_view line) {
    window_.log(line);
}

void WindowModel::slog(std::string_view text, int panel) {
    window_.slog(text, panel);
}

void WindowModel::clearLog() {
    window_.bClearClick();
}

void WindowModel::pumpEvents() {
    window_.pumpEvents();
}

void WindowModel::refresh() {
    window_.repaint();
}

bool WindowModel::confirm(std::string_view question, bool defaultYes) {
    return window_.confirm(question, defaultYes);
}

void WindowModel::controlsChanged() {
    window_.syncFromModel();
}

void WindowModel::playlistChanged() {
    window_.syncPlaylist();
}

void WindowModel::progress(int64_t position, int64_t size) {
    window_.status_->progress(position, size);
}

} // namespace halyard
