// The main window: start-up, the model binding, the window's events and the handlers
// of its buttons, which hand over to the jobs.
#include "app/TfMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include "app/FileFilters.h"
#include "app/Fonts.h"
#include "app/IntEdit.h"
#include "app/MessageLog.h"
#include "app/ModelText.h"
#include "app/QtMkvmerge.h"
#include "app/StatusPanels.h"
#include "handoff/MkvTrip.h"
#include "jobs/PgsOutputs.h"

#include "playlist/ReadXpl.h"
#include "rebuild/Rebuild.h"

// The logo and the icon live in a resource of the window's static library.
static void initWindowResources() {
    Q_INIT_RESOURCE(halyard);
}

namespace halyard {

namespace {

const char* const EvoFilter = "All supported file|*.aob; *.evo; *.vob|EVOB files (HD DVD)|*.evo|"
                              "AOB files (DVD Audio)|*.aob|VOB files (DVD Video)|*.vob";
const char* const XplFilter = "XPL|VPLST000.XPL";
const char* const SubpictureHint = "Check the desired subpicture streams";

void setTextIfChanged(QLineEdit* edit, const QString& text) {
    if (edit->text() != text) {
        const QSignalBlocker blocker(edit);
        edit->setText(text);
    }
}

void setChecked(QAbstractButton* button, bool checked) {
    if (button->isChecked() != checked) {
        const QSignalBlocker blocker(button);
        button->setChecked(checked);
    }
}

template <size_t N>
void syncBoxes(const std::array<QCheckBox*, N>& widgets, const std::array<StreamBox, N>& fields) {
    for (size_t i = 0; i < N; ++i) {
        QCheckBox* box = widgets[i];
        const StreamBox& field = fields[i];
        box->setEnabled(field.enabled);
        setChecked(box, field.ticked);
        // A caption is shown as it stands: "&" marks no accelerator.
        const QString caption = fromModelText(field.caption).replace('&', "&&");
        if (box->text() != caption)
            box->setText(caption);
        const QString hint = fromModelText(field.hint).section('|', 0, 0);
        if (box->toolTip() != hint)
            box->setToolTip(hint);
    }
}

QTreeWidgetItem* treeItem(const TreeNode& node) {
    auto* item = new QTreeWidgetItem(QStringList(fromModelText(node.text)));
    for (const TreeNode& child : node.children)
        item->addChild(treeItem(child));
    return item;
}

} // namespace

TfMain::TfMain(QWidget* parent)
    : QMainWindow(parent), state_(std::make_unique<RunState>()), model_(*this), jobs_(*state_, model_),
      report_(*state_, model_) {
    initWindowResources();
    setObjectName("fMain");
    setWindowTitle(Caption);
    setWindowIcon(QIcon(":/halyard/halyard.png"));
    setFont(TahomaFont(8));

    jobs_.DemuxJob = [this] { demuxAndHandOn(); };
    for (size_t i = 1; i < model_.cbSub.size(); ++i)
        model_.cbSub[i].hint = SubpictureHint;

    createControls();
    connectControls();
    // The design's minimum outer size is its client area in the frame it was drawn
    // with; frames differ between desktops, so the client area is what is kept.
    resize(DesignWidth, DesignHeight);
    move(0, 0);
    setMinimumSize(DesignWidth, DesignHeight);

    chooseFile = [this](const FileRequest& request) { return showFileDialog(request); };
    chooseFolder = [this](const QString& title, const QString& folder) -> std::optional<QString> {
        const QString chosen = QFileDialog::getExistingDirectory(this, title, folder);
        if (chosen.isEmpty())
            return std::nullopt;
        return QDir::toNativeSeparators(chosen);
    };
    askYesNo = [this](const QString& question, bool defaultYes) {
        QMessageBox box(QMessageBox::Question, "Confirm", question, QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    showError = [this](const QString& text) {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok, this);
        box.exec();
    };

    InstallRebuildJob(jobs_, *state_, model_);
    InstallReadXplJob(jobs_, *state_, model_);
    syncFromModel();
    syncPlaylist();
}

TfMain::~TfMain() = default;

// The log and the status bar.

void TfMain::log(std::string_view line) {
    report_.line(line);
    reMessage->appendLine(line);
}

void TfMain::slog(std::string_view text, int panel) {
    status_->show(fromModelText(text), panel);
}

// Window events.

void TfMain::FormShow() {
    setAcceptDrops(true);
}

// Runs once: later activations (after each dialog the window shows, also in the middle
// of a job) change nothing.
void TfMain::FormActivate() {
    if (activated_)
        return;
    activated_ = true;
    guarded([this] { RegRead(); });
    jobs_.Resetcbs();
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80)
        state_->DecimalSeparator = char(point[0].unicode());
    syncFromModel();
}

// The logo stays at 153 on narrow windows and is centred on wide ones.
void TfMain::FormResize() {
    const int width = frameGeometry().width();
    imLogo->move(width <= 432 ? 153 : width / 2 - 63, imLogo->y());
}

// During a writing job the user is asked first; a read just stops.
bool TfMain::FormCloseQuery() {
    if (state_->BusyFlag) {
        jobs_.bCancelClick();
        return state_->CancelFlag;
    }
    state_->CancelFlag = true;
    return true;
}

void TfMain::FormClose() {
    RegWrite();
}

void TfMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TfMain::closeEvent(QCloseEvent* event) {
    bool allowed = false;
    guarded([&] { allowed = FormCloseQuery(); });
    if (!allowed && !state_->CancelFlag) {
        event->ignore();
        return;
    }
    // A job still on its way out (it stops at its next poll) must not start another.
    closing_ = true;
    model_.autoProcess = AutoProcess::None;
    guarded([this] { FormClose(); });
    event->accept();
}

// Enter anywhere that does not use it itself presses the default button.
void TfMain::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && bReadEVO->isEnabled()) {
        bReadEVO->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !jobs_.jobRunning() && !closing_)
        event->acceptProposedAction();
}

// The drop is taken when the shell has finished it, so a job started by it does not
// hold up the shell's drag.
void TfMain::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    openFiles(paths);
}

void TfMain::openFiles(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    QTimer::singleShot(0, this, [this, paths] {
        if (!closing_)
            guarded([&] { WMDropFiles(paths); });
    });
}

// The model binding.

void TfMain::syncFromModel() {
    bReadEVO->setEnabled(model_.bReadEVO.enabled);
    bReadXPL->setEnabled(model_.bReadXPL.enabled);
    bDemux->setEnabled(model_.bDemux.enabled);
    bRebuild->setEnabled(model_.bRebuild.enabled);
    bCancel->setEnabled(model_.bCancel.enabled);
    bbEVO->setEnabled(model_.bbEVO.enabled);
    bbXPL->setEnabled(model_.bbXPL.enabled);
    syncBoxes(cbVideo, model_.cbVideo);
    syncBoxes(cbAudio, model_.cbAudio);
    syncBoxes(cbSub, model_.cbSub);

    setTextIfChanged(eEVOfile, fromModelPath(model_.eEVOfile));
    setTextIfChanged(eXPLfile, fromModelPath(model_.eXPLfile));
    setTextIfChanged(eWorkdir, fromModelPath(model_.eWorkdir));
    setTextIfChanged(eVideoExt, fromModelText(model_.eVideoExt));
    setTextIfChanged(eAudioExt, fromModelText(model_.eAudioExt));
    setTextIfChanged(eSubExt, fromModelText(model_.eSubExt));
    setTextIfChanged(eMkvmerge, fromModelPath(model_.eMkvmerge));

    setChecked(cbAutoClear, model_.cbAutoClear);
    setChecked(cbContinue, model_.cbContinue);
    setChecked(cbFastCheck, model_.cbFastCheck);
    setChecked(cbCountFr, model_.cbCountFr);
    setChecked(cbDetails, model_.cbDetails);
    setChecked(cbAutoRead, model_.cbAutoRead);
    setChecked(cbLpcmWav, model_.lpcmWav);
    setChecked(cbPgs, model_.pgs);
    setChecked(cbMakeMkv, model_.makeMkv);
    setChecked(cbKeep, model_.keepDemuxed);
    if (ieFastSize->Value() != model_.ieFastSize) {
        const QSignalBlocker blocker(ieFastSize);
        ieFastSize->setValue(model_.ieFastSize);
    }
    ieFastSize->setEnabled(model_.ieFastSizeEdit.enabled);
    if (!closing_) {
        setChecked(rbNoAuto, model_.autoProcess == AutoProcess::None);
        setChecked(rbAutoDemux, model_.autoProcess == AutoProcess::Demux);
        setChecked(rbAutoRebuild, model_.autoProcess == AutoProcess::Rebuild);
    }

    if (PageControl->currentIndex() != model_.currentPage)
        PageControl->setCurrentIndex(model_.currentPage);
    if (!model_.bCancel.enabled)
        status_->hideProgress();
}

void TfMain::syncPlaylist() {
    QStringList lines;
    lines.reserve(qsizetype(model_.mXPL.size()));
    for (const std::string& line : model_.mXPL)
        lines << fromModelText(line);
    const QString text = lines.join('\n');
    if (mXPL->toPlainText() != text)
        mXPL->setPlainText(text);
    mXPL->setVisible(model_.mXPLVisible);

    tvXPL->clear();
    for (const TreeNode& root : model_.tvXPL)
        tvXPL->addTopLevelItem(treeItem(root));
    tvXPL->expandAll();
}

void TfMain::pumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TfMain::confirm(std::string_view question, bool defaultYes) {
    return askYesNo(fromModelText(question), defaultYes);
}

// Errors.

QString TfMain::WithFullStop(const QString& text) {
    if (!text.isEmpty() && text.back() > QChar('.'))
        return text + '.';
    return text;
}

void TfMain::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        // An error inside a handler that runs while a job pumps events leaves that job
        // to end its own way.
        if (!jobs_.jobRunning())
            returnToIdle();
        showError(WithFullStop(QString::fromUtf8(error.what())));
    }
    syncFromModel();
}

void TfMain::returnToIdle() {
    state_->BusyFlag = false;
    model_.bCancel.enabled = false;
    model_.bReadEVO.enabled = !model_.eEVOfile.empty();
    model_.bReadXPL.enabled = !jobs_.Paths.PlaylistFileName.empty();
    model_.bbEVO.enabled = model_.bbXPL.enabled = true;
    if (!model_.mXPLVisible) {
        model_.mXPLVisible = true;
        syncPlaylist();
    }
    status_->hideProgress();
    status_->show("Ready", 0);
    status_->show("", 1);
    jobs_.cbVideoClick();
}

// Handlers.

void TfMain::bReadEVOClick() {
    jobs_.bReadEVOClick();
}

void TfMain::bReadXPLClick() {
    jobs_.bReadXPLClick();
}

void TfMain::bDemuxClick() {
    jobs_.bDemuxClick();
}

// "Make MKV" always hands mkvmerge LPCM as WAV and subpictures as PGS; the two boxes
// before it govern a Demux without it.
void TfMain::demuxAndHandOn() {
    if (!model_.makeMkv) {
        jobs_.demuxWithinJob();
        if (model_.pgs && !state_->CancelFlag)
            for (ReportOutput& pgs : WritePgsOutputs(report_.report(), jobs_, *state_, model_, ""))
                report_.addOutput(std::move(pgs));
        return;
    }
    MkvTripOptions options;
    options.mkvmerge = LocateMkvmerge(model_.eMkvmerge);
    options.keep = model_.keepDemuxed;
    MkvTrip trip(jobs_, *state_, model_, report_, StartMkvmergeWithQProcess,
                 [this](const std::string& line) { model_.log("[re]" + line + "[/re]"); });
    trip.run(options);
    jobs_.cbVideoClick();
}

void TfMain::bRebuildClick() {
    jobs_.bRebuildClick();
}

void TfMain::bCancelClick() {
    jobs_.bCancelClick();
}

void TfMain::bClearClick() {
    reMessage->clearLines();
}

void TfMain::cbVideoClick() {
    jobs_.cbVideoClick();
}

void TfMain::cbFastCheckClick() {
    jobs_.cbFastCheckClick();
}

std::optional<QString> TfMain::showFileDialog(const FileRequest& request) {
    QFileDialog dialog(this, request.title, request.folder);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty())
        dialog.selectNameFilter(request.filters.first());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

// A browse button does nothing while a job runs: the job keeps its source.
void TfMain::bbEVOClick() {
    if (jobs_.jobRunning()) {
        QApplication::beep();
        return;
    }
    FileRequest request;
    request.title = "Choose the EVO file to demux";
    request.filters = QtNameFilters(EvoFilter);
    request.folder = fromModelPath(model_.odEVOfileInitialDir);
    request.defaultSuffix = "EVO";
    request.mustExist = true;
    const std::optional<QString> path = chooseFile(request);
    if (!path)
        return;
    jobs_.sourceChosen(toModelPath(*path));
    syncFromModel();
    if (bReadEVO->isEnabled())
        bReadEVO->setFocus();
}

void TfMain::bbXPLClick() {
    if (jobs_.jobRunning()) {
        QApplication::beep();
        return;
    }
    FileRequest request;
    request.title = "Open";
    request.filters = QtNameFilters(XplFilter);
    request.folder = fromModelPath(model_.odXPLInitialDir);
    request.fileName = fromModelPath(model_.odXPLFileName);
    request.defaultSuffix = "xpl";
    const std::optional<QString> path = chooseFile(request);
    if (path)
        jobs_.playlistChosen(toModelPath(*path));
}

// A cancelled choice leaves the folder as it was, or empty when it named no folder.
void TfMain::bbWorkdirClick() {
    QString taken = eWorkdir->text();
    if (taken.isEmpty() || !QDir(taken).exists())
        taken.clear();
    const std::optional<QString> chosen = chooseFolder("Select a directory", taken);
    eWorkdir->setText(chosen ? *chosen : taken);
}

void TfMain::bbMkvmergeClick() {
    FileRequest request;
    request.title = "mkvmerge";
    request.filters = {"mkvmerge (mkvmerge mkvmerge.exe)", "All files (*)"};
    request.folder = QFileInfo(eMkvmerge->text()).absolutePath();
    request.mustExist = true;
    if (const std::optional<QString> path = chooseFile(request))
        eMkvmerge->setText(*path);
}

void TfMain::WMDropFiles(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& path : paths)
        files.push_back(toModelPath(path));
    jobs_.WMDropFiles(files);
}

} // namespace halyard
