#pragma once
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/WindowModel.h"
#include "jobs/Jobs.h"
#include "jobs/RunReport.h"
#include "model/RunState.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTabWidget;
class QToolButton;
class QTreeWidget;

namespace halyard {

class Anchors;
class MessageLog;
class StatusPanels;
class TIntEdit;

// What the file dialogs are asked for: the window shows them through a hook, which a
// test replaces by a function that answers as the user would.
struct FileRequest {
    QString title;
    QStringList filters;     // Qt's syntax, the first selected
    QString folder;          // initial folder
    QString fileName;        // preset name
    QString defaultSuffix;
    bool mustExist = false;  // only an existing file in an existing folder
};

// The main window. Every control carries its name as object name; the window binds
// each to its field of the user-interface model and runs the jobs in its handlers,
// on this thread. It has no business logic of its own.
class TfMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* ApplicationTitle = "HD DVD Halyard";
    static constexpr const char* Caption = "Halyard 0.623 (based on Ravick's demux 0.6)";
    static constexpr int DesignWidth = 352;  // client area
    static constexpr int DesignHeight = 393;

    explicit TfMain(QWidget* parent = nullptr);
    ~TfMain() override;

    // The log and the status bar.
    void log(std::string_view line);
    void slog(std::string_view text, int panel);

    // Settings.
    void RegRead();
    void RegWrite();

    // Window events.
    void FormShow();
    void FormActivate(); // the first activation: settings, stream boxes, locale
    void FormResize();
    bool FormCloseQuery();
    void FormClose();

    // Handlers.
    void bReadEVOClick();
    void bReadXPLClick();
    void bDemuxClick();
    void bRebuildClick();
    void bCancelClick();
    void bClearClick();
    void bbEVOClick();
    void bbXPLClick();
    void bbWorkdirClick();
    void bbMkvmergeClick();
    void cbVideoClick();
    void cbFastCheckClick();
    // Files dropped on the window or named on the command line.
    void WMDropFiles(const QStringList& paths);
    // Takes the files as a drop once the event loop is free (command line, shell drops).
    void openFiles(const QStringList& paths);

    // Replaceable dialogs: the file and folder choosers, the Yes/No question and the
    // error box. Each default shows the real dialog.
    std::function<std::optional<QString>(const FileRequest&)> chooseFile;
    std::function<std::optional<QString>(const QString& title, const QString& folder)> chooseFolder;
    std::function<bool(const QString& question, bool defaultYes)> askYesNo;
    std::function<void(const QString& text)> showError;

    // The text an error box shows: a full stop is added after a letter or a digit.
    static QString WithFullStop(const QString& text);

    UiModel& model() { return model_; }
    RunState& runState() { return *state_; }
    Jobs& jobs() { return jobs_; }
    MessageLog* messageLog() const { return reMessage; }
    StatusPanels& statusPanels() { return *status_; }

private:
    friend class WindowModel;

    void createControls();
    void createTopRows(QWidget* client);
    void createStatusPage();
    void createStreamPage(int page, const char* title, const char* tip, const char* prefix, int count,
                          const char* caption, QCheckBox** boxes);
    void createXplPage();
    void createOptionsPage();
    void createAfterDemuxGroup(QWidget* page);
    void createBottomRow(QWidget* client);
    void connectControls();

    // Model to widgets, and the playlist page.
    void syncFromModel();
    void syncPlaylist();
    void pumpEvents();
    bool confirm(std::string_view question, bool defaultYes);

    // Demux as the Options page's "After Demux" group asks: PGS beside the subpictures,
    // or on through mkvmerge into one Matroska file.
    void demuxAndHandOn();

    // Runs a handler; an error that escapes it is shown, and when no job is left
    // running, the controls return to idle.
    void guarded(const std::function<void()>& handler);
    void returnToIdle();

    std::optional<QString> showFileDialog(const FileRequest& request);

    // Qt events.
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    std::unique_ptr<RunState> state_;
    WindowModel model_;
    Jobs jobs_;
    // What the jobs found and wrote, from the log, for the hand-off after Demux.
    RunReportCollector report_;
    std::unique_ptr<StatusPanels> status_;
    bool shown_ = false;
    bool activated_ = false;
    bool closing_ = false;
    int treeWidth_ = 96;

    // The controls, by their names.
    QLineEdit* eEVOfile = nullptr;
    QToolButton* bbEVO = nullptr;
    QPushButton* bReadEVO = nullptr;
    QLineEdit* eXPLfile = nullptr;
    QToolButton* bbXPL = nullptr;
    QPushButton* bReadXPL = nullptr;
    QTabWidget* PageControl = nullptr;
    QPushButton* bDemux = nullptr;
    QPushButton* bRebuild = nullptr;
    QLabel* imLogo = nullptr;
    QPushButton* bCancel = nullptr;

    QPushButton* bClear = nullptr;
    QCheckBox* cbAutoClear = nullptr;
    MessageLog* reMessage = nullptr;

    std::array<QCheckBox*, 8> cbVideo{};
    std::array<QCheckBox*, 16> cbAudio{};
    std::array<QCheckBox*, 16> cbSub{};

    QTreeWidget* tvXPL = nullptr;
    QSplitter* splXPL = nullptr;
    QPlainTextEdit* mXPL = nullptr;

    QLineEdit* eVideoExt = nullptr;
    QLineEdit* eAudioExt = nullptr;
    QLineEdit* eSubExt = nullptr;
    QLineEdit* eWorkdir = nullptr;
    QToolButton* bbWorkdir = nullptr;
    QCheckBox* cbContinue = nullptr;
    QCheckBox* cbFastCheck = nullptr;
    TIntEdit* ieFastSize = nullptr;
    QCheckBox* cbCountFr = nullptr;
    QCheckBox* cbDetails = nullptr;
    QCheckBox* cbAutoRead = nullptr;
    QRadioButton* rbNoAuto = nullptr;
    QRadioButton* rbAutoDemux = nullptr;
    QRadioButton* rbAutoRebuild = nullptr;
    QCheckBox* cbLpcmWav = nullptr;
    QCheckBox* cbPgs = nullptr;
    QCheckBox* cbMakeMkv = nullptr;
    QCheckBox* cbKeep = nullptr;
    QLineEdit* eMkvmerge = nullptr;
    QToolButton* bbMkvmerge = nullptr;

    Anchors* clientAnchors_ = nullptr;
};

} // namespace halyard
