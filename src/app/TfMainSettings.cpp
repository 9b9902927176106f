// The settings: RegRead at the first activation, RegWrite when the window closes.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSplitter>

#include "app/IntEdit.h"
#include "app/ModelText.h"
#include "app/Registry.h"
#include "app/TfMain.h"

namespace halyard {

namespace {

// Each value found is applied at once, so an error further on leaves it applied.
template <class Read, class Apply>
void readValue(const Registry& registry, const char* name, Read read, Apply apply) {
    if (auto value = (registry.*read)(name))
        apply(*value);
}

} // namespace

void TfMain::RegRead() {
    const Registry registry;
    if (!registry.exists())
        return;
    using R = Registry;
    // Width, Height, Top and Left are the window's outer bounds.
    auto frameExtra = [this] { return frameGeometry().size() - size(); };
    readValue(registry, "Width", &R::readInteger, [&](int outerWidth) { resize(outerWidth - frameExtra().width(), height()); });
    readValue(registry, "Height", &R::readInteger,
              [&](int outerHeight) { resize(width(), outerHeight - frameExtra().height()); });
    readValue(registry, "Top", &R::readInteger, [&](int top) { move(frameGeometry().left(), top); });
    readValue(registry, "Left", &R::readInteger, [&](int left) { move(left, frameGeometry().top()); });
    readValue(registry, "WindowState", &R::readInteger, [&](int state) {
        if (state == 2)
            setWindowState(Qt::WindowMaximized);
        else if (state == 1)
            setWindowState(Qt::WindowMinimized);
        else
            setWindowState(Qt::WindowNoState);
    });
    readValue(registry, "TreeWidth", &R::readInteger, [&](int treeWidth) {
        treeWidth_ = treeWidth;
        splXPL->setSizes({treeWidth, std::max(50, splXPL->width() - treeWidth)});
    });

    readValue(registry, "AudioExt", &R::readString, [&](const QString& text) { eAudioExt->setText(text); });
    readValue(registry, "VideoExt", &R::readString, [&](const QString& text) { eVideoExt->setText(text); });
    readValue(registry, "SubExt", &R::readString, [&](const QString& text) { eSubExt->setText(text); });
    readValue(registry, "Workdir", &R::readString, [&](const QString& text) { eWorkdir->setText(text); });
    readValue(registry, "Mkvmerge", &R::readString, [&](const QString& text) { eMkvmerge->setText(text); });
    readValue(registry, "EVOdir", &R::readString, [&](const QString& folder) {
        jobs_.Paths.SourceFolder = model_.odEVOfileInitialDir = toModelPath(folder);
    });
    readValue(registry, "XPLdir", &R::readString, [&](const QString& folder) {
        jobs_.Paths.PlaylistFolder = model_.odXPLInitialDir = toModelPath(folder);
    });

    // A flag ticks its box as a click would, so its handler runs.
    auto tick = [](QCheckBox* box) { return [box](bool set) { box->setChecked(set); }; };
    readValue(registry, "Continue", &R::readFlag, tick(cbContinue));
    readValue(registry, "FastCheck", &R::readFlag, tick(cbFastCheck));
    readValue(registry, "CountFrames", &R::readFlag, tick(cbCountFr));
    readValue(registry, "Details", &R::readFlag, tick(cbDetails));
    readValue(registry, "AutoRead", &R::readFlag, tick(cbAutoRead));
    // Choosing one of the three exclusive choices unticks the other two.
    auto choose = [this](QRadioButton* radio) {
        return [this, radio](bool set) {
            if (set)
                radio->setChecked(true);
            else if (radio->isChecked())
                rbNoAuto->setChecked(true);
        };
    };
    readValue(registry, "AutoDemux", &R::readFlag, choose(rbAutoDemux));
    readValue(registry, "AutoRebuild", &R::readFlag, choose(rbAutoRebuild));
    readValue(registry, "AutoClear", &R::readFlag, tick(cbAutoClear));
    readValue(registry, "LpcmWav", &R::readFlag, tick(cbLpcmWav));
    readValue(registry, "Pgs", &R::readFlag, tick(cbPgs));
    readValue(registry, "MakeMkv", &R::readFlag, tick(cbMakeMkv));
    readValue(registry, "KeepDemuxed", &R::readFlag, tick(cbKeep));
    readValue(registry, "FastSize", &R::readInteger, [&](int size) { ieFastSize->setValue(size); });
}

// A maximised window leaves the bounds of its last normal run as they were stored.
void TfMain::RegWrite() {
    Registry registry;
    const int state = isMaximized() ? 2 : isMinimized() ? 1 : 0;
    registry.writeInteger("WindowState", state);
    if (state != 2) {
        const QRect bounds = frameGeometry();
        registry.writeInteger("Top", bounds.top());
        registry.writeInteger("Left", bounds.left());
        registry.writeInteger("Width", bounds.width());
        registry.writeInteger("Height", bounds.height());
    }
    registry.writeInteger("TreeWidth", treeWidth_);
    registry.writeString("AudioExt", eAudioExt->text());
    registry.writeString("VideoExt", eVideoExt->text());
    registry.writeString("SubExt", eSubExt->text());
    registry.writeString("Workdir", eWorkdir->text());
    registry.writeString("Mkvmerge", eMkvmerge->text());
    registry.writeString("EVOdir", fromModelPath(jobs_.Paths.SourceFolder));
    registry.writeString("XPLdir", fromModelPath(jobs_.Paths.PlaylistFolder));
    registry.writeFlag("Continue", cbContinue->isChecked());
    registry.writeFlag("FastCheck", cbFastCheck->isChecked());
    registry.writeFlag("CountFrames", cbCountFr->isChecked());
    registry.writeFlag("Details", cbDetails->isChecked());
    registry.writeFlag("AutoRead", cbAutoRead->isChecked());
    registry.writeFlag("AutoDemux", rbAutoDemux->isChecked());
    registry.writeFlag("AutoRebuild", rbAutoRebuild->isChecked());
    registry.writeFlag("AutoClear", cbAutoClear->isChecked());
    registry.writeFlag("LpcmWav", cbLpcmWav->isChecked());
    registry.writeFlag("Pgs", cbPgs->isChecked());
    registry.writeFlag("MakeMkv", cbMakeMkv->isChecked());
    registry.writeFlag("KeepDemuxed", cbKeep->isChecked());
    registry.writeInteger("FastSize", int(ieFastSize->Value()));
    registry.settings().sync();
}

} // namespace halyard
