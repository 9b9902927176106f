#pragma once
#include <array>
#include <string>
#include <string_view>

namespace halyard {

// One check box of the stream pages.
struct StreamBox {
    bool enabled = false;
    bool ticked = false;
    std::string caption;
    std::string hint;
};

// A push button whose state the jobs change.
struct Button {
    bool enabled = false;
};

// What the engine and the jobs see of the user interface: the options and stream
// boxes they read while they run, the buttons they switch, and the calls through
// which they report. The window binds its widgets to these fields; the command
// line fills them from its arguments. The core never sees a widget.
class UiModel {
public:
    virtual ~UiModel() = default;

    // Stream boxes: cbVideo0..7, cbAudio00..15, cbSub00..15.
    std::array<StreamBox, 8> cbVideo{};
    std::array<StreamBox, 16> cbAudio{};
    std::array<StreamBox, 16> cbSub{};

    // Options read by the engine during a run.
    bool cbFastCheck = true;
    int ieFastSize = 300; // mebibytes
    bool cbCountFr = true;
    bool cbDetails = true;

    // The source path; its extension tells the kind of source.
    std::string eEVOfile;

    Button bCancel{};

    // Appends one marked-up line to the message log.
    virtual void log(std::string_view line) = 0;
    // Shows a text in status bar panel 0 or 1.
    virtual void slog(std::string_view text, int panel) = 0;
    // Lets the user interface process its pending events (the engine calls this
    // every 4 MiB); a Cancel pressed meanwhile sets the run state's CancelFlag.
    virtual void pumpEvents() {}
    // Repaints the window (the engine calls this every 64 MiB).
    virtual void refresh() {}
    // Called after the core changed a button or box, so a view can follow.
    virtual void controlsChanged() {}
};

} // namespace halyard
