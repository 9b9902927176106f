#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// One check box of the stream pages.
struct StreamBox {
    bool enabled = false;
    bool ticked = false;
    std::string caption;
    std::string hint;
};

// A control whose enabled state the jobs change.
struct Control {
    bool enabled = false;
};

// One node of the playlist tree and its children, in display order.
struct TreeNode {
    std::string text;
    std::vector<TreeNode> children;
};

// The automatic process after Read EVO: rbNoAuto, rbAutoDemux, rbAutoRebuild.
enum class AutoProcess { None, Demux, Rebuild };

// The pages of the window's tab control.
enum Page : int { StatusPage = 0, VideoPage = 1, AudioPage = 2, SubpicturePage = 3, XplPage = 4, OptionsPage = 5 };

// What the engine and the jobs see of the user interface: the options, edits and
// stream boxes they read, the buttons they switch, and the calls through which they
// report and ask. The window binds its widgets to these fields (and calls
// controlsChanged's counterpart when the user changes one); the command line fills
// them from its arguments. The core never sees a widget.
class UiModel {
public:
    virtual ~UiModel() = default;

    // Stream boxes: cbVideo0..7, cbAudio00..15, cbSub00..15.
    std::array<StreamBox, 8> cbVideo{};
    std::array<StreamBox, 16> cbAudio{};
    std::array<StreamBox, 16> cbSub{};

    // Buttons that the jobs enable and disable.
    Control bReadEVO{};
    Control bReadXPL{};
    Control bDemux{};
    Control bRebuild{};
    Control bCancel{};
    Control bbEVO{true};
    Control bbXPL{true};

    // Edits.
    std::string eEVOfile;                  // the source's full path
    std::string eXPLfile = "VPLST000.XPL"; // the playlist's path
    std::string eWorkdir;                  // the output folder
    std::string eVideoExt = "mpv";
    std::string eAudioExt = "mpa";
    std::string eSubExt = "sup";

    // Options.
    bool cbAutoClear = false;
    bool cbContinue = true;
    bool cbFastCheck = true;
    int ieFastSize = 300; // mebibytes
    Control ieFastSizeEdit{true};
    bool cbCountFr = true;
    bool cbDetails = true;
    bool cbAutoRead = true;
    AutoProcess autoProcess = AutoProcess::None;
    // After Demux: LPCM audio of .EVO and .VOB sources as WAV files (extension "wav"),
    // subpictures as PGS files too, and the whole on into one Matroska file by mkvmerge
    // (found at eMkvmerge; empty: HALYARD_MKVMERGE, then PATH), keeping the demuxed
    // files or not.
    bool lpcmWav = false;
    bool pgs = false;
    bool makeMkv = false;
    bool keepDemuxed = false;
    std::string eMkvmerge;

    // Folders the file dialogs open in, and the playlist dialog's preset name.
    std::string odEVOfileInitialDir;
    std::string odXPLInitialDir;
    std::string odXPLFileName;

    int currentPage = StatusPage;

    // The "XPL" page: the memo's lines (hidden while a read fills it) and the tree's
    // root nodes, which show four empty nodes before the first read.
    std::vector<std::string> mXPL;
    bool mXPLVisible = true;
    std::vector<TreeNode> tvXPL{{"Video", {}}, {"Audio", {}}, {"Subpicture", {}}, {"Chapter", {}}};

    // Appends one marked-up line to the message log.
    virtual void log(std::string_view line) = 0;
    // Shows a text in status bar panel 0 or 1.
    virtual void slog(std::string_view text, int panel) = 0;
    // Removes every line from the log.
    virtual void clearLog() {}
    // Lets the user interface process its pending events (the engine calls this
    // every 4 MiB); a Cancel pressed meanwhile sets the run state's CancelFlag.
    virtual void pumpEvents() {}
    // Repaints the window (the engine calls this every 64 MiB).
    virtual void refresh() {}
    // Asks a Yes/No question; defaultYes chooses the default button.
    virtual bool confirm(std::string_view question, bool defaultYes) { return defaultYes; }
    // Called after the core changed a button, box or page, so a view can follow.
    virtual void controlsChanged() {}
    // Called after the core changed the memo, its visibility or the tree.
    virtual void playlistChanged() {}
    // How far a pack loop has come through its source (the engine calls this every
    // 4 MiB, before pumpEvents), for a view that shows a progress bar.
    virtual void progress(int64_t position, int64_t size) {}
};

} // namespace halyard
