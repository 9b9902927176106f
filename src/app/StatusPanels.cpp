#include "app/StatusPanels.h"

#include <QLayout>

namespace halyard {

namespace {
constexpr int StatusBarHeight = 21;
constexpr int ProgressWidth = 90;
} // namespace

StatusPanels::StatusPanels(QStatusBar* bar) : bar_(bar) {
    bar->setFixedHeight(StatusBarHeight);
    bar->setSizeGripEnabled(true);
    const char* names[2] = {"StatusPanel0", "StatusPanel1"};
    for (int i = 0; i < 2; ++i) {
        panels_[size_t(i)] = new QLabel(bar);
        panels_[size_t(i)]->setObjectName(names[i]);
        panels_[size_t(i)]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(panels_[size_t(i)]);
    }
    progress_ = new QProgressBar(bar);
    progress_->setObjectName("StatusProgress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedSize(ProgressWidth, StatusBarHeight - 8);
    bar->addWidget(progress_);
    progress_->hide();

    // The start texts, with the widths the design gives them.
    panels_[0]->setText(" Ready");
    panels_[0]->setFixedWidth(40);
    panels_[1]->setText(" Select or drop an EVO file to demux");
    panels_[1]->setFixedWidth(50);
    bar->setToolTip(" Select or drop an EVO file to demux");
}

void StatusPanels::show(const QString& text, int panel) {
    QLabel* label = panels_[size_t(panel & 1)];
    const QString shown = " " + text;
    label->setText(shown);
    const int frame = 2 * label->frameWidth() + label->margin() * 2;
    label->setFixedWidth(bar_->fontMetrics().horizontalAdvance(shown + "a") + frame);
    if ((panel & 1) == 1)
        bar_->setToolTip(text);
    if (bar_->layout())
        bar_->layout()->activate();
    bar_->repaint();
}

void StatusPanels::progress(int64_t position, int64_t size) {
    const int value = size > 0 ? int(std::min<int64_t>(1000, position * 1000 / size)) : 0;
    progress_->setValue(value);
    if (progress_->isHidden()) {
        progress_->show();
        if (bar_->layout())
            bar_->layout()->activate();
    }
    progress_->repaint();
}

void StatusPanels::hideProgress() {
    if (!progress_->isHidden())
        progress_->hide();
}

} // namespace halyard
