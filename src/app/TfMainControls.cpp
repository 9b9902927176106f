// The window's controls: their names, places at the design size, anchors, texts,
// tooltips and start states, and the wiring of each to its handler or model field.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QTreeWidget>

#include "app/Anchors.h"
#include "app/IntEdit.h"
#include "app/MessageLog.h"
#include "app/ModelText.h"
#include "app/StatusPanels.h"
#include "app/TfMain.h"

namespace halyard {

namespace {

// The client area above the status bar, and a page of the tab control, at design.
constexpr QSize ClientDesign(TfMain::DesignWidth, TfMain::DesignHeight - 21);
constexpr QSize PageDesign(328, 238);
constexpr int OptionsHeight = 340; // the Options page's groups, the last one below the fold

// Rows and columns of the stream boxes.
constexpr std::array<int, 8> BoxRows{9, 31, 53, 75, 98, 120, 142, 165};
constexpr std::array<int, 2> BoxColumns{9, 165};
constexpr QSize BoxSize(140, 17);

// A tooltip shows the part of a hint before its "|".
QString Hint(const char* hint) {
    return QString::fromUtf8(hint).section('|', 0, 0);
}

template <class Widget>
Widget* named(Widget* widget, const char* name, const char* hint = nullptr) {
    widget->setObjectName(name);
    if (hint)
        widget->setToolTip(Hint(hint));
    return widget;
}

QToolButton* folderButton(QWidget* parent, const char* name, const char* hint) {
    auto* button = named(new QToolButton(parent), name, hint);
    button->setIcon(parent->style()->standardIcon(QStyle::SP_DirIcon));
    button->setAutoRaise(false);
    return button;
}

QLineEdit* shortEdit(QWidget* parent, const char* name, const char* text, int maxLength, const char* hint = nullptr) {
    auto* edit = named(new QLineEdit(text, parent), name, hint);
    edit->setMaxLength(maxLength);
    return edit;
}

// The six page tabs of the design fit the tab control's width: tabs are padded less
// than the desktop styles pad them.
class NarrowTabsStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace)
            return std::min(QProxyStyle::pixelMetric(metric, option, widget), 10);
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QWidget* newPage(QTabWidget* tabs, const char* title, const char* tip) {
    auto* page = new QWidget;
    page->setObjectName(QString("ts") + title);
    const int index = tabs->addTab(page, title);
    if (tip)
        tabs->setTabToolTip(index, Hint(tip));
    return page;
}

} // namespace

void TfMain::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName("Client");
    setCentralWidget(client);
    client->resize(ClientDesign);
    clientAnchors_ = new Anchors(client, ClientDesign);
    clientAnchors_->afterLayout = [this] { FormResize(); };

    createTopRows(client);
    PageControl = named(new QTabWidget(client), "PageControl");
    auto* tabsStyle = new NarrowTabsStyle(QApplication::style()->name());
    tabsStyle->setParent(PageControl);
    PageControl->tabBar()->setStyle(tabsStyle);
    clientAnchors_->place(PageControl, {8, 69, 336, 266}, AnchorAll);
    createStatusPage();
    createStreamPage(VideoPage, "Video", "Check the desired video stream", "cbVideo", 8, "Video stream", cbVideo.data());
    createStreamPage(AudioPage, "Audio", "Check the desired audio streams", "cbAudio", 16, "Audio stream",
                     cbAudio.data());
    createStreamPage(SubpicturePage, "Subpicture", "Check the desired subpicture streams", "cbSub", 16, "Subpicture",
                     cbSub.data());
    createXplPage();
    createOptionsPage();
    PageControl->setCurrentIndex(StatusPage);
    createBottomRow(client);

    status_ = std::make_unique<StatusPanels>(statusBar());
    statusBar()->setObjectName("StatusBar");
}

void TfMain::createTopRows(QWidget* client) {
    eEVOfile = named(new QLineEdit(client), "eEVOfile", "Drop here the source EVO file|You cannot write here directly");
    eEVOfile->setReadOnly(true);
    eEVOfile->setFocusPolicy(Qt::ClickFocus); // not in the tab order
    clientAnchors_->place(eEVOfile, {8, 8, 239, 21}, AnchorLeftRight);
    bbEVO = folderButton(client, "bbEVO", "Browse an EVO (AOB, VOB) file");
    clientAnchors_->place(bbEVO, {253, 7, 25, 25}, AnchorTopRight);
    bReadEVO = named(new QPushButton("Read EVO", client), "bReadEVO", "Read the source EVO file to detect streams");
    bReadEVO->setDefault(true);
    bReadEVO->setEnabled(false);
    clientAnchors_->place(bReadEVO, {284, 7, 60, 25}, AnchorTopRight);

    eXPLfile = named(new QLineEdit("VPLST000.XPL", client), "eXPLfile", "Drop here the VPLST000.XPL");
    eXPLfile->setReadOnly(true);
    eXPLfile->setFocusPolicy(Qt::ClickFocus);
    clientAnchors_->place(eXPLfile, {8, 40, 239, 21}, AnchorLeftRight);
    bbXPL = folderButton(client, "bbXPL", "Browse the HD DVD disc's VPLST000.XPL");
    clientAnchors_->place(bbXPL, {253, 38, 25, 25}, AnchorTopRight);
    bReadXPL = named(new QPushButton("Read XPL", client), "bReadXPL", "Read the XPL file to detect stream infos");
    bReadXPL->setEnabled(false);
    clientAnchors_->place(bReadXPL, {284, 38, 60, 25}, AnchorTopRight);
}

void TfMain::createStatusPage() {
    QWidget* page = newPage(PageControl, "Status", nullptr);
    auto* anchors = new Anchors(page, PageDesign);
    bClear = named(new QPushButton("Clear", page), "bClear");
    anchors->place(bClear, {289, 3, 36, 18}, AnchorTopRight);
    cbAutoClear = named(new QCheckBox("Auto clear", page), "cbAutoClear");
    anchors->place(cbAutoClear, {216, 3, 72, 17}, AnchorTopRight);
    reMessage = named(new MessageLog(page), "reMessage");
    anchors->place(reMessage, {0, 27, 326, 208}, AnchorAll);
}

void TfMain::createStreamPage(int page, const char* title, const char* tip, const char* prefix, int count,
                              const char* caption, QCheckBox** boxes) {
    QWidget* sheet = newPage(PageControl, title, tip);
    Q_ASSERT(PageControl->indexOf(sheet) == page);
    for (int i = 0; i < count; ++i) {
        const QString name = count > 10 ? QString("%1%2").arg(prefix).arg(i, 2, 10, QChar('0'))
                                        : QString("%1%2").arg(prefix).arg(i);
        boxes[i] = new QCheckBox(caption, sheet);
        boxes[i]->setObjectName(name);
        boxes[i]->setEnabled(false);
        const QPoint at(BoxColumns[size_t(i / 8)], BoxRows[size_t(i % 8)]);
        boxes[i]->setGeometry(QRect(at, BoxSize));
    }
}

void TfMain::createXplPage() {
    QWidget* page = newPage(PageControl, "XPL", nullptr);
    auto* anchors = new Anchors(page, PageDesign);
    splXPL = named(new QSplitter(Qt::Horizontal, page), "splXPL");
    anchors->place(splXPL, {0, 0, PageDesign.width(), PageDesign.height()}, AnchorAll);
    splXPL->setChildrenCollapsible(false);

    tvXPL = named(new QTreeWidget(splXPL), "tvXPL", "Infos from your XPL file");
    tvXPL->setHeaderHidden(true);
    tvXPL->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvXPL->setMinimumWidth(50);
    // The one column is as wide as its widest entry, so that the narrow pane scrolls
    // sideways to show a whole stream name instead of cutting it at the pane's width.
    tvXPL->header()->setStretchLastSection(false);
    tvXPL->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    mXPL = named(new QPlainTextEdit(splXPL), "mXPL", "This is your XPL file (part of it)");
    QFont courier("Courier New", 8);
    courier.setStyleHint(QFont::TypeWriter);
    mXPL->setFont(courier);
    mXPL->setReadOnly(true);
    mXPL->setLineWrapMode(QPlainTextEdit::NoWrap);
    mXPL->setMinimumWidth(50);
    splXPL->addWidget(tvXPL);
    splXPL->addWidget(mXPL);
    splXPL->setStretchFactor(0, 0); // the tree keeps its width, the memo takes the rest
    splXPL->setStretchFactor(1, 1);
    splXPL->setSizes({treeWidth_, PageDesign.width() - treeWidth_});
}

void TfMain::createOptionsPage() {
    // The page scrolls: at the window's smallest the "After Demux" group lies below
    // the fold.
    QWidget* tab = newPage(PageControl, "Options", nullptr);
    auto* scroll = named(new QScrollArea(tab), "sbOptions");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    auto* page = new QWidget;
    page->setObjectName("pOptions");
    page->setMinimumHeight(OptionsHeight);
    scroll->setWidget(page);

    auto* extensions = named(new QGroupBox(page), "gbExtensions");
    extensions->setGeometry(3, 0, 320, 78);
    auto* extensionsLabel = named(new QLabel("Extensions (video, audio, subtitle)", extensions), "lExtensions");
    extensionsLabel->setGeometry(8, 18, 172, 17);
    eVideoExt = shortEdit(extensions, "eVideoExt", "mpv", 5);
    eVideoExt->setGeometry(182, 16, 38, 21);
    eAudioExt = shortEdit(extensions, "eAudioExt", "mpa", 5);
    eAudioExt->setGeometry(226, 16, 38, 21);
    eSubExt = shortEdit(extensions, "eSubExt", "sup", 5, "This is real .sup format, don't change!");
    eSubExt->setGeometry(270, 16, 38, 21);
    auto* workdirLabel = named(new QLabel("Output folder", extensions), "lWorkdir");
    workdirLabel->setGeometry(8, 47, 74, 17);
    eWorkdir = named(new QLineEdit(extensions), "eWorkdir", "Destination directory for the demuxed streams");
    eWorkdir->setGeometry(84, 45, 193, 21);
    bbWorkdir = folderButton(extensions, "bbWorkdir", "Browse folder");
    bbWorkdir->setGeometry(283, 43, 25, 25);

    auto* options = named(new QGroupBox(page), "gbOptions");
    options->setGeometry(3, 81, 182, 154);
    cbContinue = named(new QCheckBox("Continue with second  EVO", options), "cbContinue",
                       "Demux continues with FEATURE_2.EVO (if it exists) after finishing FEATURE_1.EVO");
    cbContinue->setGeometry(8, 10, 170, 17);
    cbFastCheck = named(new QCheckBox("Fast EVO checking", options), "cbFastCheck",
                        "Read EVO checks only the first part of the file");
    cbFastCheck->setGeometry(8, 32, 170, 17);
    auto* firstLabel = named(new QLabel("check only the first", options), "lFastSize");
    firstLabel->setGeometry(26, 56, 104, 17);
    ieFastSize = named(new TIntEdit(options), "ieFastSize", "Size of the fast check (in MBs)");
    ieFastSize->setMaxLength(3);
    ieFastSize->setValue(300);
    ieFastSize->setGeometry(130, 54, 33, 21);
    auto* mbLabel = named(new QLabel("MB", options), "lMB");
    mbLabel->setGeometry(166, 56, 14, 17);
    cbCountFr = named(new QCheckBox("Count frames", options), "cbCountFr",
                      "Works only if the process hasn't cancelled (even by Fast EVO checking)");
    cbCountFr->setGeometry(8, 82, 170, 17);
    cbDetails = named(new QCheckBox("Detailed info", options), "cbDetails", "Detailed information about streams");
    cbDetails->setGeometry(8, 104, 170, 17);
    cbAutoRead = named(new QCheckBox("Auto read", options), "cbAutoRead", "Read the file automatically after browse");
    cbAutoRead->setGeometry(8, 126, 170, 17);
    for (QCheckBox* box : {cbContinue, cbFastCheck, cbCountFr, cbDetails, cbAutoRead})
        box->setChecked(true);

    auto* automatic = named(new QGroupBox(page), "gbAutoProcess");
    automatic->setGeometry(194, 81, 129, 86);
    rbNoAuto = named(new QRadioButton("No auto process", automatic), "rbNoAuto");
    rbNoAuto->setGeometry(8, 10, 116, 17);
    rbAutoDemux = named(new QRadioButton("Auto Demux", automatic), "rbAutoDemux",
                        "Demux starts automatically after Read EVO");
    rbAutoDemux->setGeometry(8, 34, 116, 17);
    rbAutoRebuild = named(new QRadioButton("Auto Rebuild", automatic), "rbAutoRebuild",
                          "Rebuild starts automatically after Read EVO");
    rbAutoRebuild->setGeometry(8, 58, 116, 17);
    rbNoAuto->setChecked(true);

    createAfterDemuxGroup(page);
}

// Below the other groups: the page scrolls down to it when the window is at its
// smallest, and shows it whole in a taller window.
void TfMain::createAfterDemuxGroup(QWidget* page) {
    auto* after = named(new QGroupBox("After Demux", page), "gbAfterDemux");
    after->setGeometry(3, 238, 320, 98);
    cbLpcmWav = named(new QCheckBox("LPCM as WAV", after), "cbLpcmWav",
                      "Demux writes LPCM audio of .EVO and .VOB sources as WAV files");
    cbLpcmWav->setGeometry(8, 20, 150, 17);
    cbPgs = named(new QCheckBox("Subtitles as PGS", after), "cbPgs",
                  "Demux writes each subpicture stream as a Blu-ray PGS file (.pgs.sup) too");
    cbPgs->setGeometry(160, 20, 150, 17);
    cbMakeMkv = named(new QCheckBox("Make MKV (mkvmerge)", after), "cbMakeMkv",
                      "Demux goes on into one Matroska file with every ticked stream, made by mkvmerge");
    cbMakeMkv->setGeometry(8, 42, 150, 17);
    cbKeep = named(new QCheckBox("Keep the demuxed files", after), "cbKeep",
                   "Keep the files demuxed for the Matroska file, and mkvmerge's option file");
    cbKeep->setGeometry(160, 42, 150, 17);
    auto* label = named(new QLabel("mkvmerge", after), "lMkvmerge");
    label->setGeometry(8, 68, 74, 17);
    eMkvmerge = named(new QLineEdit(after), "eMkvmerge",
                      "mkvmerge's location; empty: HALYARD_MKVMERGE, else the search path");
    eMkvmerge->setGeometry(84, 66, 193, 21);
    bbMkvmerge = folderButton(after, "bbMkvmerge", "Browse for mkvmerge");
    bbMkvmerge->setGeometry(283, 64, 25, 25);
}

void TfMain::createBottomRow(QWidget* client) {
    bDemux = named(new QPushButton("Demux", client), "bDemux", "Demux the source EVO to streams");
    QFont bold = bDemux->font();
    bold.setBold(true);
    bDemux->setFont(bold);
    bDemux->setEnabled(false);
    clientAnchors_->place(bDemux, {8, 341, 60, 25}, AnchorBottomLeft);
    bRebuild = named(new QPushButton("Rebuild", client), "bRebuild");
    bRebuild->setEnabled(false);
    clientAnchors_->place(bRebuild, {74, 341, 60, 25}, AnchorBottomLeft);
    imLogo = named(new QLabel(client), "imLogo", "HD DVD logo :-)");
    imLogo->setPixmap(QPixmap(":/halyard/logo.jpg"));
    imLogo->setAttribute(Qt::WA_TranslucentBackground);
    clientAnchors_->place(imLogo, {147, 339, 125, 31}, AnchorBottom);
    bCancel = named(new QPushButton("Cancel", client), "bCancel", "You can stop the actual process");
    bCancel->setEnabled(false);
    clientAnchors_->place(bCancel, {284, 341, 60, 25}, AnchorBottomRight);
}

void TfMain::connectControls() {
    auto handler = [this](void (TfMain::*method)()) { return [this, method] { guarded([this, method] { (this->*method)(); }); }; };
    connect(bReadEVO, &QPushButton::clicked, this, handler(&TfMain::bReadEVOClick));
    connect(bReadXPL, &QPushButton::clicked, this, handler(&TfMain::bReadXPLClick));
    connect(bDemux, &QPushButton::clicked, this, handler(&TfMain::bDemuxClick));
    connect(bRebuild, &QPushButton::clicked, this, handler(&TfMain::bRebuildClick));
    connect(bCancel, &QPushButton::clicked, this, handler(&TfMain::bCancelClick));
    connect(bClear, &QPushButton::clicked, this, handler(&TfMain::bClearClick));
    connect(bbEVO, &QToolButton::clicked, this, handler(&TfMain::bbEVOClick));
    connect(bbXPL, &QToolButton::clicked, this, handler(&TfMain::bbXPLClick));
    connect(bbWorkdir, &QToolButton::clicked, this, handler(&TfMain::bbWorkdirClick));
    connect(bbMkvmerge, &QToolButton::clicked, this, handler(&TfMain::bbMkvmergeClick));

    // Stream boxes: a click ticks the box's field, then the shared handler runs.
    auto bindBoxes = [&](auto& widgets, auto& fields) {
        for (size_t i = 0; i < widgets.size(); ++i)
            connect(widgets[i], &QCheckBox::clicked, this, [this, &fields, i](bool ticked) {
                fields[i].ticked = ticked;
                guarded([this] { cbVideoClick(); });
            });
    };
    bindBoxes(cbVideo, model_.cbVideo);
    bindBoxes(cbAudio, model_.cbAudio);
    bindBoxes(cbSub, model_.cbSub);

    // Options: each change goes to its field at once, whoever makes it.
    auto bindFlag = [this](QCheckBox* box, bool& field) {
        connect(box, &QCheckBox::toggled, this, [&field](bool ticked) { field = ticked; });
    };
    bindFlag(cbAutoClear, model_.cbAutoClear);
    bindFlag(cbContinue, model_.cbContinue);
    bindFlag(cbCountFr, model_.cbCountFr);
    bindFlag(cbDetails, model_.cbDetails);
    bindFlag(cbAutoRead, model_.cbAutoRead);
    bindFlag(cbLpcmWav, model_.lpcmWav);
    bindFlag(cbPgs, model_.pgs);
    bindFlag(cbMakeMkv, model_.makeMkv);
    bindFlag(cbKeep, model_.keepDemuxed);
    connect(cbFastCheck, &QCheckBox::toggled, this, [this](bool ticked) {
        model_.cbFastCheck = ticked;
        guarded([this] { cbFastCheckClick(); });
    });
    connect(ieFastSize, &QLineEdit::textChanged, this, [this] { model_.ieFastSize = int(ieFastSize->Value()); });
    auto bindRadio = [this](QRadioButton* radio, AutoProcess choice) {
        connect(radio, &QRadioButton::toggled, this, [this, choice](bool chosen) {
            if (chosen)
                model_.autoProcess = choice;
        });
    };
    bindRadio(rbNoAuto, AutoProcess::None);
    bindRadio(rbAutoDemux, AutoProcess::Demux);
    bindRadio(rbAutoRebuild, AutoProcess::Rebuild);

    auto bindText = [this](QLineEdit* edit, std::string& field) {
        connect(edit, &QLineEdit::textChanged, this, [&field](const QString& text) { field = text.toStdString(); });
    };
    bindText(eVideoExt, model_.eVideoExt);
    bindText(eAudioExt, model_.eAudioExt);
    bindText(eSubExt, model_.eSubExt);
    connect(eWorkdir, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.eWorkdir = toModelPath(text); });
    connect(eMkvmerge, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.eMkvmerge = toModelPath(text); });

    connect(PageControl, &QTabWidget::currentChanged, this, [this](int page) { model_.currentPage = page; });
    connect(splXPL, &QSplitter::splitterMoved, this, [this] { treeWidth_ = splXPL->sizes().value(0, treeWidth_); });
}

} // namespace halyard
