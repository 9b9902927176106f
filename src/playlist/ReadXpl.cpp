#include "playlist/ReadXpl.h"

#include <memory>

#include "jobs/Paths.h"
#include "jobs/StreamNames.h"
#include "playlist/TitleCut.h"
#include "playlist/XplAttributes.h"

namespace halyard {

namespace {
enum RootNode : size_t { InfoNode, VideoNode, AudioNode, SubtitleNode, ChapterNode };

std::string attr(std::string_view tag, std::string_view name) {
    std::string value;
    GetAttr(tag, name, value);
    return value;
}
} // namespace

XplReader::XplReader(Jobs& jobs, RunState& state, UiModel& ui) : jobs_(jobs), state_(state), ui_(ui) {}

void XplReader::bReadXPLClick() {
    jobs_.Resetcbs();
    const bool readEvoWasEnabled = ui_.bReadEVO.enabled;
    ui_.bReadXPL.enabled = ui_.bReadEVO.enabled = false;
    ui_.bbEVO.enabled = ui_.bbXPL.enabled = false;
    ui_.currentPage = XplPage;
    ui_.controlsChanged();
    try {
        read();
    } catch (AttributeValueError& error) {
        error.playlist = ui_.eXPLfile;
        error.logged = true;
        ui_.log("[re]" + error.context() + "[/re]");
        failed(readEvoWasEnabled);
        throw;
    } catch (...) {
        failed(readEvoWasEnabled);
        throw;
    }
    ui_.log("Done.");
    ui_.log("");
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    restoreControls(readEvoWasEnabled);
}

// After a failure: the file closed, the memo shown, the buttons idle.
void XplReader::failed(bool readEvoWasEnabled) {
    state_.SourceStream.reset();
    ui_.mXPLVisible = true;
    ui_.playlistChanged();
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    restoreControls(readEvoWasEnabled);
}

void XplReader::restoreControls(bool readEvoWasEnabled) {
    ui_.bReadXPL.enabled = true;
    ui_.bbEVO.enabled = ui_.bbXPL.enabled = true;
    ui_.bReadEVO.enabled = readEvoWasEnabled;
    ui_.controlsChanged();
}

void XplReader::read() {
    state_.SourceStream.reset();
    state_.SourceStream = std::make_unique<SourceFile>(ui_.eXPLfile);
    SourceFile& file = *state_.SourceStream;
    const std::string size = std::to_string(file.size());
    ui_.log("Open " + jobs_.Paths.PlaylistFileName);
    ui_.log("Filesize: " + size + " bytes");

    // The memo is hidden while it fills, and shown once at the end.
    ui_.mXPL.clear();
    ui_.mXPLVisible = false;
    ui_.playlistChanged();
    PlaylistValues values;
    std::vector<bool> commentLines;
    TagScanner scanner(ui_.mXPL, tables_, values, &commentLines);
    for (;;) {
        const int64_t count = file.read(state_.BlockBuffer.data(), BlockSize);
        if (count <= 0)
            break;
        scanner.scan(state_.BlockBuffer.data(), size_t(count));
        ui_.slog(std::to_string(file.position()) + "/" + size + " bytes", 1);
    }
    state_.SourceStream.reset();
    listed_.reset();

    if (CutToTitle(ui_.mXPL, commentLines, CutExt(FileNamePart(ui_.eEVOfile))))
        buildTree(values);
    ui_.mXPLVisible = true;
    ui_.playlistChanged();
}

void XplReader::buildTree(const PlaylistValues& values) {
    ui_.tvXPL = {{"Info", {}}, {"Video", {}}, {"Audio", {}}, {"Subtitle", {}}, {"Chapter", {}}};
    TreeNode& info = ui_.tvXPL[InfoNode];
    if (!values.PlaylistName.empty())
        info.children.push_back({"Title: " + values.PlaylistName, {}});
    StreamCatalogue& catalogue = listed_;
    for (const std::string& line : ui_.mXPL) {
        if (ContainsUpper(line, "<TITLE ")) {
            info.children.push_back({"Name: " + attr(line, "displayName"), {}});
            info.children.push_back({"Duration: " + attr(line, "titleDuration"), {}});
        }
        if (ContainsUpper(line, "<VIDEO "))
            listVideo(line, ui_.tvXPL[VideoNode]);
        if (ContainsUpper(line, "<AUDIO "))
            listStream(line, tables_.AudioAttrTable, catalogue.AudioType.data(), AudioSlots, ui_.tvXPL[AudioNode],
                       ui_.cbAudio);
        if (ContainsUpper(line, "<SUBTITLE "))
            listStream(line, tables_.SubpictureAttrTable, catalogue.SubpictureType.data(), SubpictureSlots,
                       ui_.tvXPL[SubtitleNode], ui_.cbSub);
        if (ContainsUpper(line, "<CHAPTER "))
            ui_.tvXPL[ChapterNode].children.push_back(
                {attr(line, "titleTimeBegin") + ": " + attr(line, "displayName"), {}});
    }
    info.children.push_back({"TimeBase: " + values.TimeBase, {}});
    info.children.push_back({"TickBase: " + values.TickBase, {}});
}

// A video track is listed once, by its track number; only track 1 has a box.
void XplReader::listVideo(const std::string& line, TreeNode& node) {
    const int track = GetAttrInt(line, "track");
    if (track < 1 || track > VideoSlots)
        return;
    int32_t& marker = listed_.VideoType[size_t(track - 1)];
    if (marker != EmptySlot)
        return;
    marker = 1;
    const std::string name =
        AttributeTables::at(tables_.VideoAttrTable, GetAttrInt(line, "mediaAttr")) + ".stream" + VideoSuffix(track - 1);
    node.children.push_back({name, {}});
    ui_.log(name + " found!");
    if (track == 1)
        offer(ui_.cbVideo[0], name, false);
}

// An audio or subtitle stream is listed once, by its stream number; streams 1 to 16
// have a box.
template <size_t Boxes>
void XplReader::listStream(const std::string& line, const std::array<std::string, AttributeTables::Size>& table,
                           int32_t* markers, int slots, TreeNode& node, std::array<StreamBox, Boxes>& boxes) {
    const int stream = GetAttrInt(line, "streamNumber");
    if (stream < 1 || stream > slots)
        return;
    int32_t& marker = markers[stream - 1];
    if (marker != EmptySlot)
        return;
    marker = 1;
    const std::string name = AttributeTables::at(table, GetAttrInt(line, "mediaAttr")) + ".stream" +
                             TwoDigitSuffix(stream - 1) + "." + attr(line, "description");
    node.children.push_back({name, {}});
    ui_.log(name + " found!");
    if (stream <= int(Boxes))
        offer(boxes[size_t(stream - 1)], name, true);
}

// As a click would: the box's state changes, then the shared click handler runs.
void XplReader::offer(StreamBox& box, const std::string& name, bool withHint) {
    box.enabled = true;
    box.ticked = true;
    box.caption = name;
    if (withHint)
        box.hint = name;
    jobs_.cbVideoClick();
}

void InstallReadXplJob(Jobs& jobs, RunState& state, UiModel& ui) {
    auto reader = std::make_shared<XplReader>(jobs, state, ui);
    jobs.ReadXplJob = [reader] { reader->bReadXPLClick(); };
}

} // namespace halyard
