#pragma once
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <array>
#include <cstdint>

namespace halyard {

// The status bar's two panels and the progress bar beside panel 1. A panel shows its
// text after one leading space and is as wide as that text and one letter more; the
// bar's tooltip repeats the text of panel 1, which may be too long for its panel.
class StatusPanels {
public:
    explicit StatusPanels(QStatusBar* bar);

    // Sets panel 0 or 1 and repaints the bar at once, also in the middle of a job.
    void show(const QString& text, int panel);
    // Shows how far a pack loop has come; hideProgress takes the bar away again.
    void progress(int64_t position, int64_t size);
    void hideProgress();

    QLabel* panel(int index) const { return panels_[size_t(index & 1)]; }
    QProgressBar* progressBar() const { return progress_; }

private:
    QStatusBar* bar_;
    std::array<QLabel*, 2> panels_{};
    QProgressBar* progress_;
};

} // namespace halyard
