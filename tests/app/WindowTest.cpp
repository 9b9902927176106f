// The window on the offscreen platform: its controls, the log and the status bar, the
// settings, dialogs and drops, and the jobs run from its buttons over the demo disc.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>

#include "app/FileFilters.h"
#include "app/IntEdit.h"
#include "app/MessageLog.h"
#include "app/StatusPanels.h"
#include "app/TfMain.h"
#include "model/Error.h"

using namespace halyard;

namespace {

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Corvane Software", "Halyard");
}

// A shown, activated window whose dialogs answer as the test says.
struct Window {
    TfMain w;
    QStringList errors;
    QStringList questions; // "question [default]"
    bool answer = false;
    std::optional<QString> fileAnswer;
    FileRequest request;

    Window() {
        w.showError = [this](const QString& text) { errors << text; };
        w.askYesNo = [this](const QString& question, bool defaultYes) {
            questions << question + (defaultYes ? " [yes]" : " [no]");
            return answer;
        };
        w.chooseFile = [this](const FileRequest& asked) {
            request = asked;
            return fileAnswer;
        };
        w.show();
        w.FormActivate();
    }

    template <class T = QWidget>
    T* get(const char* name) {
        T* widget = w.findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QPushButton* button(const char* name) { return get<QPushButton>(name); }
    QCheckBox* box(const char* name) { return get<QCheckBox>(name); }
    QString log() const { return w.messageLog()->toPlainText(); }
    // Runs `action` at the job's first pump of the event loop.
    void duringJob(std::function<void()> action) { QTimer::singleShot(0, &w, std::move(action)); }
};

// The character format of one character of the log.
QTextCharFormat formatAt(MessageLog* log, int line, int column) {
    const QTextBlock block = log->document()->findBlockByNumber(line);
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + column + 1);
    return cursor.charFormat();
}

bool matchesCaseSensitively(const QString& filter, const QString& name) {
    const QString patterns = filter.section('(', 1).chopped(1);
    for (const QString& pattern : patterns.split(' '))
        if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)).match(name).hasMatch())
            return true;
    return false;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir disc_;
    QString feature(int n) const { return disc_.filePath(QString("HVDVD_TS/FEATURE_%1.EVO").arg(n)); }
    QString playlist() const { return disc_.filePath("ADV_OBJ/VPLST000.XPL"); }
    void readDemo(Window& win) {
        win.fileAnswer = feature(1);
        win.get<QToolButton>("bbEVO")->click();
    }

private slots:
    void initTestCase() {
        const QString command = QString("'%1' '%2' >/dev/null").arg(HALYARD_DEMO_GENERATOR_PATH, disc_.path());
        QCOMPARE(std::system(command.toLocal8Bit().constData()), 0);
    }
    void init() { settings().clear(); }

    void controlsStartAsDesigned() {
        Window win;
        QCOMPARE(win.w.windowTitle(), QString("Halyard 0.623 (based on Ravick's demux 0.6)"));
        QCOMPARE(win.w.size(), QSize(352, 393));
        QCOMPARE(win.w.pos(), QPoint(0, 0));
        QVERIFY(win.button("bReadEVO")->isDefault());
        QCOMPARE(win.button("bReadEVO")->geometry(), QRect(284, 7, 60, 25));
        QCOMPARE(win.get("PageControl")->geometry(), QRect(8, 69, 336, 266));
        QCOMPARE(win.get("imLogo")->x(), 153);
        QCOMPARE(win.w.statusBar()->height(), 21);

        struct Expected { const char* name; QString text; QString tip; bool enabled; };
        const Expected controls[] = {
            {"bReadEVO", "Read EVO", "Read the source EVO file to detect streams", false},
            {"bReadXPL", "Read XPL", "Read the XPL file to detect stream infos", false},
            {"bDemux", "Demux", "Demux the source EVO to streams", false},
            {"bRebuild", "Rebuild", "", false},
            {"bCancel", "Cancel", "You can stop the actual process", false},
            {"bClear", "Clear", "", true},
            {"bbEVO", "", "Browse an EVO (AOB, VOB) file", true},
            {"bbXPL", "", "Browse the HD DVD disc's VPLST000.XPL", true},
            {"bbWorkdir", "", "Browse folder", true},
            {"cbContinue", "Continue with second  EVO",
             "Demux continues with FEATURE_2.EVO (if it exists) after finishing FEATURE_1.EVO", true},
            {"cbFastCheck", "Fast EVO checking", "Read EVO checks only the first part of the file", true},
            {"cbAutoRead", "Auto read", "Read the file automatically after browse", true},
            {"rbAutoDemux", "Auto Demux", "Demux starts automatically after Read EVO", true},
            {"cbVideo7", "No video stream", "", false},
            {"cbAudio15", "No audio stream", "", false},
            {"cbSub00", "No subpicture", "", false},
            {"cbSub01", "No subpicture", "Check the desired subpicture streams", false},
        };
        for (const Expected& c : controls) {
            auto* control = win.get<QAbstractButton>(c.name);
            QCOMPARE(control->text(), c.text);
            QCOMPARE(control->toolTip(), c.tip);
            QCOMPARE(control->isEnabled(), c.enabled);
        }
        QCOMPARE(win.get("eEVOfile")->toolTip(), QString("Drop here the source EVO file"));
        QCOMPARE(win.get<QLineEdit>("eXPLfile")->text(), QString("VPLST000.XPL"));
        QCOMPARE(win.get<TIntEdit>("ieFastSize")->Value(), 300);
        QCOMPARE(win.get<QLineEdit>("eSubExt")->maxLength(), 5);
        QVERIFY(win.box("cbCountFr")->isChecked() && !win.box("cbAutoClear")->isChecked());
        QVERIFY(win.get<QRadioButton>("rbNoAuto")->isChecked());

        auto* pages = win.get<QTabWidget>("PageControl");
        const QStringList titles{"Status", "Video", "Audio", "Subpicture", "XPL", "Options"};
        for (int i = 0; i < titles.size(); ++i)
            QCOMPARE(pages->tabText(i), titles[i]);
        QCOMPARE(pages->tabToolTip(2), QString("Check the desired audio streams"));
        QCOMPARE(pages->currentIndex(), 0);

        // The tab order runs along the top rows, into the pages, then along the bottom row.
        QCOMPARE(win.get("eEVOfile")->focusPolicy() & Qt::TabFocus, 0);
        const QStringList order{"bbEVO", "bReadEVO", "bbXPL", "bReadXPL", "PageControl", "bDemux", "bRebuild", "bCancel"};
        QStringList chain;
        QWidget* next = win.get("bbEVO");
        do {
            if (order.contains(next->objectName()))
                chain << next->objectName();
            next = next->nextInFocusChain();
        } while (next != win.get("bbEVO"));
        QCOMPARE(chain, order);
    }

    void anchorsAndLogoFollowResize() {
        Window win;
        // The logo follows the outer width, frame included.
        const int frame = win.w.frameGeometry().width() - win.w.width();
        win.w.resize(800 - frame, 600);
        const int dx = 800 - frame - 352, dy = 600 - 393;
        QCOMPARE(win.get("imLogo")->x(), 337);
        QCOMPARE(win.get("imLogo")->y(), 339 + dy);
        QCOMPARE(win.get("PageControl")->geometry(), QRect(8, 69, 336 + dx, 266 + dy));
        QCOMPARE(win.button("bCancel")->geometry(), QRect(284 + dx, 341 + dy, 60, 25));
        QCOMPARE(win.button("bDemux")->geometry(), QRect(8, 341 + dy, 60, 25));
        QCOMPARE(win.get("eEVOfile")->geometry(), QRect(8, 8, 239 + dx, 21));
        win.w.resize(400 - frame, 600);
        QCOMPARE(win.get("imLogo")->x(), 153);
        win.w.resize(100, 100);
        QVERIFY(win.w.width() >= 352 && win.w.height() >= 393);
    }

    void logDrawsMarkup() {
        Window win;
        MessageLog* log = win.w.messageLog();
        win.w.log("Aspect ratio = [bl]16:9[/bl]");
        win.w.log("");
        win.w.log("[b]TrueHD[/b] stream (up to 8 channels)");
        win.w.log("[i]i[/i][u]u[/u][s1]m[/s1][s2]l[/s2][c:ff]r[/c:ff][c:00FF00]g[/c:00FF00][B]n[/B][re]t[/re]");
        QCOMPARE(win.log(), QString("Aspect ratio = 16:9\n\nTrueHD stream (up to 8 channels)\niumlrgnt"));

        QCOMPARE(formatAt(log, 0, 15).foreground().color(), QColor(0, 0, 255));
        QVERIFY(!formatAt(log, 0, 0).hasProperty(QTextFormat::ForegroundBrush));
        QCOMPARE(formatAt(log, 0, 0).fontWeight(), int(QFont::Normal));
        QCOMPARE(formatAt(log, 2, 0).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(log, 2, 6).fontWeight(), int(QFont::Normal));
        QVERIFY(formatAt(log, 3, 0).fontItalic());
        QVERIFY(formatAt(log, 3, 1).fontUnderline());
        QCOMPARE(formatAt(log, 3, 2).fontPointSize(), 10.0);
        QCOMPARE(formatAt(log, 3, 3).fontPointSize(), 12.0);
        QCOMPARE(formatAt(log, 3, 4).foreground().color(), QColor(255, 0, 0));
        QCOMPARE(formatAt(log, 3, 5).foreground().color(), QColor(0, 255, 0));
        const QTextCharFormat plain = formatAt(log, 3, 6); // an unknown tag ("B") gives the default look
        QVERIFY(!plain.hasProperty(QTextFormat::ForegroundBrush) && plain.fontWeight() == QFont::Normal);
        QCOMPARE(plain.fontPointSize(), 8.0);
        QCOMPARE(formatAt(log, 3, 7).foreground().color(), QColor(255, 0, 0));

        // Each new line scrolls into view.
        for (int i = 0; i < 200; ++i)
            win.w.log("line [b]" + std::to_string(i) + "[/b]");
        QVERIFY(log->verticalScrollBar()->maximum() > 0);
        QTextCursor end(log->document());
        end.movePosition(QTextCursor::End);
        QVERIFY(log->viewport()->rect().contains(log->cursorRect(end)));
    }

    void fullLogFailsInOrderAndClearMakesRoom() {
        Window win;
        MessageLog* log = win.w.messageLog();
        log->setCapacity(100);
        int written = 0;
        QVERIFY_THROWS_EXCEPTION(Error, {
            for (;; ++written)
                win.w.log("[b]0123456789[/b]");
        });
        QVERIFY(written > 5 && written < 10);
        QCOMPARE(log->document()->blockCount(), written);
        QVERIFY(win.log().endsWith("\n0123456789"));

        win.button("bClear")->click();
        QCOMPARE(win.log(), QString());
        win.w.log("again");
        QCOMPARE(win.log(), QString("again"));

        // A full log during a job ends it with an error box, and the window is idle again.
        log->setCapacity(400);
        readDemo(win);
        QCOMPARE(win.errors, QStringList("RichEdit line insertion error."));
        QVERIFY(win.button("bReadEVO")->isEnabled() && win.get("bbEVO")->isEnabled());
        QVERIFY(!win.button("bCancel")->isEnabled());
        QVERIFY(!win.get<QProgressBar>("StatusProgress")->isVisible());
    }

    void slogSizesPanelsAndHint() {
        Window win;
        StatusPanels& panels = win.w.statusPanels();
        QStatusBar* bar = win.w.statusBar();
        QCOMPARE(panels.panel(0)->text(), QString(" Ready"));
        QCOMPARE(panels.panel(0)->width(), 40);
        QCOMPARE(panels.panel(1)->width(), 50);
        QCOMPARE(bar->toolTip(), QString(" Select or drop an EVO file to demux"));

        win.w.slog("Reading FEATURE_1.EVO ", 0);
        QCOMPARE(panels.panel(0)->text(), QString(" Reading FEATURE_1.EVO "));
        const int frame = 2 * panels.panel(0)->frameWidth();
        QCOMPARE(panels.panel(0)->width(), bar->fontMetrics().horizontalAdvance(" Reading FEATURE_1.EVO a") + frame);
        QCOMPARE(bar->toolTip(), QString(" Select or drop an EVO file to demux"));
        win.w.slog("4/4 Mbytes, Remaining time: 0:00:01", 1);
        QCOMPARE(bar->toolTip(), QString("4/4 Mbytes, Remaining time: 0:00:01"));
        win.w.slog("", 1);
        QCOMPARE(panels.panel(1)->text(), QString(" "));
        QCOMPARE(bar->toolTip(), QString());
    }

    void intEditTakesDigitsOnly() {
        Window win;
        auto* edit = win.get<TIntEdit>("ieFastSize");
        edit->clear();
        QTest::keyClicks(edit, "1x2");
        QCOMPARE(edit->text(), QString("12"));
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, "-+9");
        QCOMPARE(edit->text(), QString("1-+")); // at most 3 characters
        QCOMPARE(edit->Value(), 0);
        QCOMPARE(win.w.model().ieFastSize, 0);
        edit->setText("abc"); // pasted
        QCOMPARE(edit->Value(), 0);
        edit->setText("+5");
        QCOMPARE(edit->Value(), 5);
        QCOMPARE(win.w.model().ieFastSize, 5);
    }

    void fileFiltersShowDiscNames() {
        const QStringList evo = QtNameFilters("All supported file|*.aob; *.evo; *.vob|EVOB files (HD DVD)|*.evo|"
                                              "AOB files (DVD Audio)|*.aob|VOB files (DVD Video)|*.vob");
        QCOMPARE(evo.size(), 4);
        QVERIFY(evo[0].startsWith("All supported file ("));
        QVERIFY(evo[1].startsWith("EVOB files (HD DVD) ("));
        for (const char* name : {"FEATURE_1.EVO", "feature_1.evo", "VTS_01_1.VOB", "ATS_01_1.AOB"})
            QVERIFY2(matchesCaseSensitively(evo[0], name), name);
        QVERIFY(matchesCaseSensitively(evo[1], "FEATURE_1.EVO") && !matchesCaseSensitively(evo[1], "VTS_01_1.VOB"));
        const QStringList xpl = QtNameFilters("XPL|VPLST000.XPL");
        QCOMPARE(xpl.size(), 1);
        QVERIFY(matchesCaseSensitively(xpl[0], "VPLST000.XPL") && matchesCaseSensitively(xpl[0], "vplst000.xpl"));
        QVERIFY(!matchesCaseSensitively(xpl[0], "VPLST001.XPL"));
    }

    void browseAndReadEvoCaptionBoxes() {
        Window win;
        readDemo(win);
        QCOMPARE(win.request.title, QString("Choose the EVO file to demux"));
        QVERIFY(win.request.mustExist);
        QCOMPARE(win.get<QLineEdit>("eEVOfile")->text(), QDir::toNativeSeparators(feature(1)));
        QCOMPARE(win.get<QLineEdit>("eXPLfile")->text(), QDir::toNativeSeparators(playlist()));
        QVERIFY(win.button("bReadXPL")->isEnabled());

        const std::pair<const char*, const char*> captions[] = {
            {"cbVideo0", "MPEG-2.stream.0"},   {"cbVideo1", "VC-1.stream.1"},     {"cbAudio00", "DD.stream.00"},
            {"cbAudio01", "DD+.stream.01"},    {"cbAudio02", "DTSHD.stream.02"}, {"cbAudio03", "MLP.stream.03"},
            {"cbAudio04", "LPCM.stream.04"},   {"cbSub00", "Subpicture.00"},
        };
        for (const auto& [name, caption] : captions) {
            QCOMPARE(win.box(name)->text(), QString(caption));
            QVERIFY(win.box(name)->isEnabled() && win.box(name)->isChecked());
        }
        QVERIFY(!win.box("cbVideo2")->isEnabled() && !win.box("cbAudio05")->isEnabled());
        QVERIFY(win.button("bDemux")->isEnabled() && win.button("bRebuild")->isEnabled());
        QVERIFY(win.log().contains("Continue on FEATURE_2.EVO"));
        QCOMPARE(win.w.statusPanels().panel(0)->text(), QString(" Ready"));

        // Unticking every box disables Demux and Rebuild; ticking one enables them again.
        for (const auto& [name, caption] : captions)
            win.box(name)->click();
        QVERIFY(!win.button("bDemux")->isEnabled() && !win.button("bRebuild")->isEnabled());
        win.box("cbSub00")->click();
        QVERIFY(win.button("bDemux")->isEnabled() && win.button("bRebuild")->isEnabled());

        // With Auto clear the log holds the last read alone; Enter presses Read EVO.
        win.box("cbAutoClear")->click();
        QTest::keyClick(win.get("eWorkdir"), Qt::Key_Return);
        QVERIFY(win.log().startsWith("Opening file FEATURE_1.EVO"));
        QCOMPARE(win.log().count("Done."), 1);
    }

    void folderChooserAndPlaylistPage() {
        Window win;
        auto* workdir = win.get<QLineEdit>("eWorkdir");
        QString offered = "unset";
        std::optional<QString> chosen;
        win.w.chooseFolder = [&](const QString& title, const QString& folder) {
            offered = title + "|" + folder;
            return chosen;
        };
        workdir->setText(disc_.filePath("no-such-folder"));
        win.get<QToolButton>("bbWorkdir")->click(); // cancelled: a folder that does not exist is dropped
        QCOMPARE(offered, QString("Select a directory|"));
        QCOMPARE(workdir->text(), QString());
        chosen = disc_.path();
        win.get<QToolButton>("bbWorkdir")->click();
        QCOMPARE(QString::fromStdString(win.w.model().eWorkdir), disc_.path());

        // The memo and the tree show what the playlist reader leaves in the model.
        UiModel& model = win.w.model();
        model.mXPL = {"<Playlist>", "  <TitleSet>"};
        model.tvXPL[0].children = {{"VC-1 1920x1080", {}}};
        model.mXPLVisible = false;
        model.playlistChanged();
        auto* memo = win.get<QPlainTextEdit>("mXPL");
        QCOMPARE(memo->toPlainText(), QString("<Playlist>\n  <TitleSet>"));
        QVERIFY(memo->isHidden());
        auto* tree = win.get<QTreeWidget>("tvXPL");
        QCOMPARE(tree->topLevelItemCount(), 4);
        QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("VC-1 1920x1080"));
    }

    void readXplFillsThePlaylistPage() {
        Window win;
        readDemo(win);
        auto* tree = win.get<QTreeWidget>("tvXPL");
        auto children = [&](int root) {
            QStringList texts;
            for (int i = 0; i < tree->topLevelItem(root)->childCount(); ++i)
                texts << tree->topLevelItem(root)->child(i)->text(0);
            return texts;
        };
        // A second read gives the same page: nothing is listed twice or left out.
        for (int read = 0; read < 2; ++read) {
            win.button("bReadXPL")->click();
            QVERIFY(win.errors.isEmpty());
            QCOMPARE(win.get<QTabWidget>("PageControl")->currentIndex(), int(XplPage));

            // The memo holds the title that plays the source, from its opening to its closing tag.
            auto* memo = win.get<QPlainTextEdit>("mXPL");
            QVERIFY(memo->isVisible());
            const QStringList lines = memo->toPlainText().split('\n');
            QVERIFY2(lines.first().startsWith("    <Title ") && lines.first().contains("displayName=\"Demo Feature\""),
                     qPrintable(lines.first()));
            QCOMPARE(lines.last(), QString("    </Title>"));
            QVERIFY(memo->toPlainText().contains("FEATURE_2.MAP") && !memo->toPlainText().contains("LOGO.MAP"));

            QCOMPARE(tree->topLevelItemCount(), 5);
            QStringList roots;
            for (int i = 0; i < 5; ++i)
                roots << tree->topLevelItem(i)->text(0);
            QCOMPARE(roots, (QStringList{"Info", "Video", "Audio", "Subtitle", "Chapter"}));
            QVERIFY(tree->topLevelItem(2)->isExpanded());
            QTreeWidgetItem* longest = tree->topLevelItem(0)->child(0); // whole, the narrow pane scrolls
            QVERIFY(tree->visualItemRect(longest).width() > tree->fontMetrics().horizontalAdvance(longest->text(0)));
            const QStringList info = children(0);
            QCOMPARE(info.size(), 5);
            QCOMPARE(info.mid(0, 2), (QStringList{"Title: Halyard Demo Disc", "Name: Demo Feature"}));
            QCOMPARE(info.mid(3), (QStringList{"TimeBase: 50fps", "TickBase: 25fps"}));
            QCOMPARE(children(1).size(), 2);
            QCOMPARE(children(1)[0], QString("MPEG-2.stream.0"));
            const QStringList audio{"DD.6ch.stream.00.en", "DD+.2ch.stream.01.de", "DTS.2ch.stream.02.fr",
                                    "MLP.2ch.stream.03.en", "LPCM.2ch.stream.04.ja"};
            QCOMPARE(children(2), audio);
            QCOMPARE(children(3), QStringList("2bitRLE.stream.00.en"));
            QCOMPARE(children(4).size(), 2);
            QCOMPARE(children(4)[0], QString("00:00:00:00: Opening"));
            QVERIFY(children(4)[1].endsWith(": Second part"));

            // The boxes are those of the playlist's tracks, captioned with their names.
            QCOMPARE(win.box("cbVideo0")->text(), QString("MPEG-2.stream.0"));
            QVERIFY(win.box("cbVideo0")->isChecked() && !win.box("cbVideo1")->isEnabled());
            for (int i = 0; i < audio.size(); ++i) {
                QCheckBox* box = win.box(qPrintable(QString("cbAudio%1").arg(i, 2, 10, QChar('0'))));
                QVERIFY(box->isEnabled() && box->isChecked());
                QCOMPARE(box->text(), audio[i]);
                QCOMPARE(box->toolTip(), audio[i]);
            }
            QVERIFY(!win.box("cbAudio05")->isEnabled());
            QCOMPARE(win.box("cbSub00")->text(), QString("2bitRLE.stream.00.en"));
            QVERIFY(win.box("cbSub00")->isChecked());

            for (const char* name : {"bReadXPL", "bReadEVO", "bbEVO", "bbXPL", "bDemux", "bRebuild"})
                QVERIFY2(win.get(name)->isEnabled(), name);
            QCOMPARE(win.w.statusPanels().panel(0)->text(), QString(" Ready"));
        }
    }

    void demuxWritesOneFilePerTickedBox() {
        Window win;
        readDemo(win);
        QTemporaryDir out;
        win.get<QLineEdit>("eWorkdir")->setText(out.path());
        win.box("cbAudio02")->click();
        bool progressShown = false;
        win.duringJob([&] { progressShown = win.get<QProgressBar>("StatusProgress")->isVisible(); });
        win.button("bDemux")->click();

        const QStringList written = QDir(out.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(written, (QStringList{"FEATURE_1_FEATURE_2.DD+.stream.01.mpa", "FEATURE_1_FEATURE_2.DD.stream.00.mpa",
                                       "FEATURE_1_FEATURE_2.LPCM.stream.04.mpa", "FEATURE_1_FEATURE_2.MLP.stream.03.mpa",
                                       "FEATURE_1_FEATURE_2.MPEG-2.stream.0.mpv",
                                       "FEATURE_1_FEATURE_2.Subpicture.00.sup", "FEATURE_1_FEATURE_2.VC-1.stream.1.mpv"}));
        for (const QString& name : written)
            QVERIFY2(QFileInfo(out.filePath(name)).size() > 0, qPrintable(name));
        QVERIFY(progressShown);
        QVERIFY(!win.get<QProgressBar>("StatusProgress")->isVisible());
        QVERIFY(win.button("bDemux")->isEnabled() && !win.button("bCancel")->isEnabled());
        QVERIFY(win.errors.isEmpty());
    }

    void cancelAsksOnlyWhileWriting() {
        Window win;
        readDemo(win);
        QTemporaryDir out;
        win.get<QLineEdit>("eWorkdir")->setText(out.path());
        auto cancelDuringJob = [&] { win.duringJob([&] { win.button("bCancel")->click(); }); };

        // A read stops at once, without a question: the second file is not read.
        win.button("bClear")->click();
        cancelDuringJob();
        win.button("bReadEVO")->click();
        QVERIFY(win.questions.isEmpty());
        QVERIFY(!win.log().contains("Continue on") && !win.log().contains("Cancelled."));

        // Demux asks; No lets it run on into the second file.
        win.button("bClear")->click();
        cancelDuringJob();
        win.button("bDemux")->click();
        QCOMPARE(win.questions, QStringList("Are you sure to stop demuxing? [no]"));
        QVERIFY(win.log().contains("Continue on") && !win.log().contains("Cancelled."));

        // Yes stops it before the second file.
        win.answer = true;
        win.button("bClear")->click();
        cancelDuringJob();
        win.button("bDemux")->click();
        QCOMPARE(win.questions.size(), 2);
        QVERIFY(win.log().contains("Cancelled.") && !win.log().contains("Continue on"));
        QVERIFY(win.log().contains("Done."));
    }

    // A stand-in for mkvmerge, set as the window's own location of it.
    QString fakeMkvmerge(const QTemporaryDir& folder, const QString& body) {
        const QString path = folder.filePath("fake-mkvmerge");
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        script.write(("#!/bin/sh\n" + body + "\n").toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    void makeMkvDemuxesOnIntoOneMatroskaFile() {
        Window win;
        readDemo(win);
        QTemporaryDir out;
        win.get<QLineEdit>("eWorkdir")->setText(out.path());
        win.box("cbMakeMkv")->click();
        win.button("bDemux")->click();

        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList("FEATURE_1_FEATURE_2.mkv"));
        const QString mkv = out.filePath("FEATURE_1_FEATURE_2.mkv");
        QVERIFY(win.log().endsWith("Written " + mkv + "\n"));
        QVERIFY(win.log().contains("VC-1.stream.1.mpv is left out")); // H.264, then VC-1 in slot 1
        QCOMPARE(win.w.statusPanels().panel(0)->text().trimmed(), QString("Ready"));
        QVERIFY(win.errors.isEmpty());
        QVERIFY(win.button("bDemux")->isEnabled() && !win.button("bCancel")->isEnabled());
    }

    void makeMkvFollowsMkvmergeAndCleansUpAfterItsFailureAndCancel() {
        Window win;
        readDemo(win);
        QTemporaryDir out, tools;
        win.get<QLineEdit>("eWorkdir")->setText(out.path());
        win.box("cbMakeMkv")->click();
        win.box("cbKeep")->click();
        const auto entries = [&] {
            return QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
        };

        // The status bar and the progress bar follow mkvmerge; its warnings end the log.
        win.get<QLineEdit>("eMkvmerge")
            ->setText(fakeMkvmerge(tools, "echo '#GUI#progress 40%'; sleep 0.3; echo '#GUI#warning Odd.'; exit 1"));
        QString status;
        int shownProgress = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (!win.w.statusPanels().panel(0)->text().contains("Muxing"))
                return; // the demux before it has a progress of its own
            status = win.w.statusPanels().panel(0)->text().trimmed();
            const QProgressBar* bar = win.w.statusPanels().progressBar();
            if (bar->isVisible() && bar->maximum() > 0)
                shownProgress = std::max(shownProgress, bar->value() * 100 / bar->maximum());
        });
        watch.start(20);
        win.button("bDemux")->click();
        watch.stop();
        QCOMPARE(status, QString("Muxing FEATURE_1_FEATURE_2.mkv..."));
        QCOMPARE(shownProgress, 40);
        QVERIFY(win.log().contains("mkvmerge: Odd."));
        QVERIFY(win.errors.isEmpty());
        // With "Keep the demuxed files": its folder and the option file stay.
        QVERIFY(entries().contains(".FEATURE_1_FEATURE_2.halyard"));
        QVERIFY(entries().contains("FEATURE_1_FEATURE_2.mkvmerge.json"));
        QVERIFY(QDir(out.filePath(".FEATURE_1_FEATURE_2.halyard")).removeRecursively());
        QVERIFY(QFile::remove(out.filePath("FEATURE_1_FEATURE_2.mkvmerge.json")));
        QVERIFY(QFile::remove(out.filePath("FEATURE_1_FEATURE_2.mkv")));
        win.box("cbKeep")->click();

        // A failure shows in the box, and nothing is left behind.
        win.get<QLineEdit>("eMkvmerge")->setText(fakeMkvmerge(tools, "echo '#GUI#error Disk full.'; exit 2"));
        win.button("bDemux")->click();
        QCOMPARE(win.errors, QStringList("mkvmerge failed: Disk full."));
        QVERIFY(entries().isEmpty());
        QVERIFY(win.button("bDemux")->isEnabled() && !win.button("bCancel")->isEnabled());

        // Cancel asks as it does for Demux, stops mkvmerge and removes the partial file.
        win.get<QLineEdit>("eMkvmerge")->setText(fakeMkvmerge(tools, "exec sleep 30"));
        win.answer = true;
        connect(&watch, &QTimer::timeout, [&] {
            if (win.w.statusPanels().panel(0)->text().contains("Muxing") && win.button("bCancel")->isEnabled())
                win.button("bCancel")->click();
        });
        watch.start(20);
        QElapsedTimer clock;
        clock.start();
        win.button("bDemux")->click();
        watch.stop();
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(win.questions.contains("Are you sure to stop demuxing? [no]"));
        QVERIFY(win.log().contains("Cancelled."));
        QVERIFY(entries().isEmpty());
        QCOMPARE(win.errors.size(), 1);
    }

    void rebuildWritesTheTickedStreamsAndHoldsOffOtherJobs() {
        Window win;
        readDemo(win);
        QTemporaryDir out;
        win.get<QLineEdit>("eWorkdir")->setText(out.path());
        win.box("cbAudio02")->click();
        // Video slot 1 holds H.264 in one file and VC-1 in the other: with MPEG-2 that is
        // one video stream more than a program stream has slots for.
        win.box("cbVideo1")->click();
        const QString rebuilt = out.filePath("FEATURE_1_FEATURE_2.rebuilt.EVO");
        auto startOfFile = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.read(4) : QByteArray();
        };

        // In the middle of the rebuild: Cancel asks (No), and no other job starts.
        bool progressShown = false;
        win.duringJob([&] {
            progressShown = win.get<QProgressBar>("StatusProgress")->isVisible();
            win.button("bReadEVO")->click();
            win.button("bReadXPL")->click();
            win.w.bReadEVOClick();
            win.w.bReadXPLClick();
            win.w.bDemuxClick();
            win.button("bCancel")->click();
        });
        win.button("bClear")->click();
        win.button("bRebuild")->click();
        QVERIFY(win.errors.isEmpty());
        QCOMPARE(win.questions, QStringList("Are you sure to stop demuxing? [no]"));
        QVERIFY(progressShown);
        QCOMPARE(win.log().count("Opening file"), 1);
        QVERIFY(!win.log().contains("Reading") && !win.log().contains("VPLST000.XPL") && !win.log().contains("Demuxing"));
        QVERIFY(win.log().contains("Continue on") && win.log().endsWith("Done.\n"));

        // The output: whole packs, the first a pack header, without the unticked stream.
        const qint64 whole = QFileInfo(rebuilt).size();
        const qint64 sources = QFileInfo(feature(1)).size() + QFileInfo(feature(2)).size();
        QVERIFY(whole > 0 && whole < sources);
        QCOMPARE(whole % 2048, 0);
        QCOMPARE(startOfFile(rebuilt), QByteArray("\x00\x00\x01\xBA", 4));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList("FEATURE_1_FEATURE_2.rebuilt.EVO"));

        // The window is idle again.
        QVERIFY(!win.get<QProgressBar>("StatusProgress")->isVisible());
        QVERIFY(win.button("bDemux")->isEnabled() && win.button("bRebuild")->isEnabled());
        QVERIFY(!win.button("bCancel")->isEnabled() && !win.w.runState().BusyFlag);
        QVERIFY(win.button("bReadEVO")->isEnabled() && win.get("bbEVO")->isEnabled());
        QCOMPARE(win.w.statusPanels().panel(0)->text(), QString(" Ready"));

        // Yes stops it within the first file, at a pack boundary.
        win.answer = true;
        win.duringJob([&] { win.button("bCancel")->click(); });
        win.button("bClear")->click();
        win.button("bRebuild")->click();
        QVERIFY(win.log().contains("Cancelled.") && !win.log().contains("Continue on"));
        // The incomplete file keeps its passing name; the finished one of before stays.
        const qint64 cancelled = QFileInfo(rebuilt + ".partial").size();
        QVERIFY(cancelled > 0 && cancelled < whole);
        QCOMPARE(QFileInfo(rebuilt).size(), whole);
        QCOMPARE(cancelled % 2048, 0);
        QVERIFY(win.button("bRebuild")->isEnabled() && !win.button("bCancel")->isEnabled());
    }

    void closingDuringJobs() {
        QTemporaryDir out;
        auto closeDuring = [&](Window& win, const char* job) {
            win.get<QLineEdit>("eWorkdir")->setText(out.path());
            win.button("bClear")->click();
            win.duringJob([&] { win.w.close(); });
            win.button(job)->click();
        };
        {
            Window win; // No keeps the window and the job
            readDemo(win);
            closeDuring(win, "bDemux");
            QCOMPARE(win.questions, QStringList("Are you sure to stop demuxing? [no]"));
            QVERIFY(win.w.isVisible() && win.log().contains("Continue on"));
        }
        {
            Window win; // Yes stops the job and closes
            readDemo(win);
            win.answer = true;
            closeDuring(win, "bDemux");
            QVERIFY(!win.w.isVisible());
            QVERIFY(win.log().contains("Cancelled.") && !win.log().contains("Continue on"));
        }
        {
            Window win; // a read stops without a question, and no automatic Demux follows it
            readDemo(win);
            win.get<QRadioButton>("rbAutoDemux")->click();
            closeDuring(win, "bReadEVO");
            QVERIFY(win.questions.isEmpty() && !win.w.isVisible());
            QVERIFY(!win.log().contains("Continue on") && !win.log().contains("Demuxing"));
        }
        QVERIFY(settings().value("AutoDemux").toInt() == 1); // the choice itself is stored
    }

    void dropsStartTheRightJob() {
        Window win;
        auto drop = [&](const QStringList& paths) {
            QMimeData mime;
            QList<QUrl> urls;
            for (const QString& path : paths)
                urls << QUrl::fromLocalFile(path);
            mime.setUrls(urls);
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&win.w, &enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&win.w, &dropped);
            return true;
        };
        auto* source = win.get<QLineEdit>("eEVOfile");

        // A source: Read EVO runs once the drop is over; of several files the first counts.
        QVERIFY(drop({feature(1), feature(2)}));
        QTRY_COMPARE(win.box("cbVideo0")->text(), QString("MPEG-2.stream.0"));
        QCOMPARE(source->text(), QDir::toNativeSeparators(feature(1)));

        // A playlist fills its edit.
        win.box("cbAutoRead")->click();
        QVERIFY(drop({playlist()}));
        QTRY_COMPARE(win.get<QLineEdit>("eXPLfile")->text(), QDir::toNativeSeparators(playlist()));

        // During a job a drop is refused, also where the shell gets past the drag test.
        win.box("cbAutoRead")->click();
        bool accepted = true;
        win.duringJob([&] {
            accepted = drop({feature(2)});
            win.w.openFiles({feature(2)});
        });
        win.button("bDemux")->click();
        QTest::qWait(50);
        QVERIFY(!accepted);
        QCOMPARE(source->text(), QDir::toNativeSeparators(feature(1)));
        QCOMPARE(win.log().count("Opening file"), 2); // the read and the demux

        // Files named on the command line take the same way.
        win.w.openFiles({feature(2)});
        QTRY_COMPARE(source->text(), QDir::toNativeSeparators(feature(2)));
        QTRY_COMPARE(win.box("cbVideo1")->text(), QString("VC-1.stream.1"));
    }

    void errorsShowInABoxAndTheControlsReturnToIdle() {
        QCOMPARE(TfMain::WithFullStop("No such file or directory"), QString("No such file or directory."));
        QCOMPARE(TfMain::WithFullStop("Invalid data type for 'Width'"), QString("Invalid data type for 'Width'"));
        QCOMPARE(TfMain::WithFullStop("Stream write error."), QString("Stream write error."));

        Window win;
        const QString missing = disc_.filePath("HVDVD_TS/MISSING_1.EVO");
        win.w.openFiles({missing});
        QTRY_COMPARE(win.errors.size(), 1);
        QCOMPARE(win.errors[0], QString("Cannot open file \"%1\". No such file or directory.").arg(missing));
        QVERIFY(win.button("bReadEVO")->isEnabled() && win.get("bbEVO")->isEnabled() && win.get("bbXPL")->isEnabled());
        QVERIFY(!win.button("bCancel")->isEnabled());

        // An output folder that does not exist fails the Demux the same way.
        readDemo(win);
        win.get<QLineEdit>("eWorkdir")->setText(disc_.filePath("no/such/folder"));
        win.button("bDemux")->click();
        QCOMPARE(win.errors.size(), 2);
        QVERIFY(win.errors[1].startsWith("Cannot create file"));
        QVERIFY(win.button("bDemux")->isEnabled() && !win.w.runState().BusyFlag);
    }

    void settingsSurviveRestart() {
        const QTemporaryDir out;
        QRect bounds;
        {
            Window first;
            first.box("cbContinue")->click();
            first.box("cbFastCheck")->click();
            first.get<TIntEdit>("ieFastSize")->setText("50");
            first.get<QRadioButton>("rbAutoDemux")->click();
            first.get<QLineEdit>("eAudioExt")->setText("ac3");
            first.get<QLineEdit>("eWorkdir")->setText(out.path());
            first.box("cbPgs")->click();
            first.box("cbKeep")->click();
            first.get<QLineEdit>("eMkvmerge")->setText("/opt/mkvtoolnix/mkvmerge");
            readDemo(first);
            first.w.move(10, 20);
            first.w.resize(500, 450);
            bounds = first.w.frameGeometry();
            first.w.close();
        }
        QSettings stored = settings();
        for (const char* name : {"WindowState", "Top", "Left", "Width", "Height", "TreeWidth", "AudioExt", "VideoExt",
                                 "SubExt", "Workdir", "EVOdir", "XPLdir", "Continue", "FastCheck", "CountFrames",
                                 "Details", "AutoRead", "AutoDemux", "AutoRebuild", "AutoClear", "FastSize",
                                 "LpcmWav", "Pgs", "MakeMkv", "KeepDemuxed", "Mkvmerge"})
            QVERIFY2(stored.contains(name), name);
        {
            Window second;
            QVERIFY(!second.box("cbContinue")->isChecked() && second.box("cbCountFr")->isChecked());
            QVERIFY(!second.get("ieFastSize")->isEnabled()); // Fast EVO checking is off
            QCOMPARE(second.w.model().ieFastSize, 50);
            QVERIFY(second.get<QRadioButton>("rbAutoDemux")->isChecked());
            QCOMPARE(second.w.model().autoProcess, AutoProcess::Demux);
            QCOMPARE(QString::fromStdString(second.w.model().eAudioExt), QString("ac3"));
            QCOMPARE(second.get<QLineEdit>("eWorkdir")->text(), out.path());
            QVERIFY(second.box("cbPgs")->isChecked() && second.box("cbKeep")->isChecked());
            QVERIFY(!second.box("cbLpcmWav")->isChecked() && !second.box("cbMakeMkv")->isChecked());
            QCOMPARE(second.w.model().eMkvmerge, std::string("/opt/mkvtoolnix/mkvmerge"));
            QCOMPARE(QString::fromStdString(second.w.jobs().Paths.SourceFolder),
                     QDir::toNativeSeparators(disc_.filePath("HVDVD_TS/")));
            QCOMPARE(second.w.frameGeometry(), bounds);
            second.w.showMaximized();
            second.w.close();
        }
        QCOMPARE(stored.value("WindowState").toInt(), 2);
        QCOMPARE(stored.value("Width").toInt(), bounds.width()); // a maximised window keeps the normal bounds
        {
            Window third;
            QVERIFY(third.w.isMaximized());
            QCOMPARE(third.w.normalGeometry().size(), QSize(500, 450));
            QCOMPARE(third.w.normalGeometry().topLeft(), bounds.topLeft() + (third.w.geometry().topLeft() - third.w.frameGeometry().topLeft()));
        }
    }

    void settingsOfAWrongTypeStopTheRead() {
        settings().setValue("FastSize", 50);
        {
            Window win; // a key holding FastSize alone changes that field alone
            QCOMPARE(win.get<TIntEdit>("ieFastSize")->Value(), 50);
            QCOMPARE(win.w.size(), QSize(352, 393));
            QVERIFY(win.box("cbContinue")->isChecked() && win.get("ieFastSize")->isEnabled());
        }
        settings().clear();
        settings().setValue("TreeWidth", 120);
        settings().setValue("AudioExt", QStringList{"ac3", "dts"});
        settings().setValue("VideoExt", "m2v");
        settings().setValue("AutoRebuild", 1);
        {
            Window win;
            QCOMPARE(win.errors, QStringList("Invalid data type for 'AudioExt'"));
            win.get<QTabWidget>("PageControl")->setCurrentIndex(XplPage);
            QCOMPARE(win.get<QSplitter>("splXPL")->sizes().value(0), 120); // read before the error
            QCOMPARE(win.get<QLineEdit>("eVideoExt")->text(), QString("mpv")); // not read after it
            QVERIFY(win.get<QRadioButton>("rbNoAuto")->isChecked());
            QCOMPARE(win.box("cbVideo0")->text(), QString("No video stream")); // the boxes are reset all the same
        }
        settings().clear();
        settings().setValue("AutoDemux", 1);
        settings().setValue("AutoRebuild", 1);
        settings().setValue("Width", "wide");
        {
            Window win;
            QCOMPARE(win.errors, QStringList("Invalid data type for 'Width'"));
        }
        settings().remove("Width");
        {
            Window win; // the last auto choice read wins over the earlier one
            QVERIFY(win.get<QRadioButton>("rbAutoRebuild")->isChecked());
            QVERIFY(!win.get<QRadioButton>("rbAutoDemux")->isChecked());
        }
    }

    // The pages after Read EVO, and the XPL page after Read XPL. The disc is shown under
    // a short name that stays the same from run to run (a link to the test's disc); runs
    // side by side take turns with it.
    void screenshotsOfEveryPage() {
        const QString shown = QDir::temp().filePath("HALYARD");
        QLockFile lock(shown + ".lock");
        lock.setStaleLockTime(0); // stale only when its process is gone
        QVERIFY(lock.lock());
        auto removeLink = [&] {
            if (QFileInfo(shown).isSymLink()) // never anything else found under that name
                QFile::remove(shown);
        };
        removeLink(); // left by a run that was killed
        QVERIFY2(QFile::link(disc_.path(), shown), qPrintable(shown + " is taken"));
        const auto cleanup = qScopeGuard(removeLink);

        Window win;
        win.fileAnswer = shown + "/HVDVD_TS/FEATURE_1.EVO";
        win.get<QToolButton>("bbEVO")->click();
        QVERIFY(QDir().mkpath(HALYARD_SCREENSHOT_DIR));
        auto* pages = win.get<QTabWidget>("PageControl");
        const char* names[] = {"status", "video", "audio", "subpicture", "xpl", "options"};
        for (int page = 0; page < 6; ++page) {
            if (page == XplPage)
                win.button("bReadXPL")->click();
            if (page == OptionsPage) // tall enough to show the "After Demux" group
                win.w.resize(win.w.width(), TfMain::DesignHeight + 110);
            pages->setCurrentIndex(page);
            QApplication::processEvents();
            const QString path = QString(HALYARD_SCREENSHOT_DIR) + "/" + names[page] + "-page.png";
            QVERIFY2(win.w.grab().save(path), qPrintable(path));
        }
        QVERIFY(win.errors.isEmpty());
    }
};

// The settings go to a folder of the test's own: Qt's test mode under a fresh home.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
