#include "rebuild/RebuildCheck.h"

#include <memory>

#include "analysers/NumberFormat.h"
#include "engine/Demux.h"
#include "engine/StreamIds.h"
#include "jobs/Paths.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"

namespace halyard {

namespace {

// The engine's side of the window during the check: no log lines (the streams were
// announced by Read EVO already), progress and Cancel as in the pass before it.
class CheckUi : public UiModel {
public:
    CheckUi(UiModel& ui, RunState& state, RunState& check, const std::string& name)
        : ui_(ui), state_(state), check_(check), name_(name) {
        cbFastCheck = false;
        cbCountFr = false;
        cbDetails = false;
    }
    void log(std::string_view) override {}
    void slog(std::string_view text, int panel) override {
        if (panel == 1)
            ui_.slog("Checking " + name_ + " " + std::string(text), 1);
    }
    void pumpEvents() override {
        ui_.pumpEvents();
        if (state_.CancelFlag)
            check_.CancelFlag = true;
    }
    void refresh() override { ui_.refresh(); }
    void progress(int64_t position, int64_t size) override { ui_.progress(position, size); }

private:
    UiModel& ui_;
    RunState& state_;
    RunState& check_;
    std::string name_;
};

std::string countText(const StreamCount& count) {
    return Dec(int64_t(count.Packets)) + (count.Packets == 1 ? " packet, " : " packets, ") +
           Dec(int64_t(count.PayloadBytes)) + (count.PayloadBytes == 1 ? " payload byte" : " payload bytes");
}

} // namespace

std::string StreamIdText(uint8_t id) {
    const StreamCodec* codec = CodecOfId(id);
    const char* what = !codec || codec->kind != StreamKind::Video ? "substream 0x"
                       : id < 0xE0                                 ? "stream id extension 0x"
                                                                   : "stream 0x";
    return what + Hex(id, 2);
}

std::string RebuiltStreamName(const RebuiltStream& stream) {
    const StreamCodec* codec = CodecOfId(stream.newId);
    const int slot = SlotOfId(stream.newId);
    std::string caption;
    if (codec && codec->kind == StreamKind::Video)
        caption = VideoStreamName(stream.newId) + VideoSuffix(slot);
    else if (codec && codec->kind == StreamKind::Audio)
        caption = AudioStreamName(stream.newId) + TwoDigitSuffix(slot);
    else
        caption = SubpictureStreamName(stream.newId) + TwoDigitSuffix(slot);
    std::string name = caption + " (" + StreamIdText(stream.newId);
    if (stream.sourceId != stream.newId)
        name += ", 0x" + Hex(stream.sourceId, 2) + " in the source";
    return name + ")";
}

bool CheckRebuiltFile(const std::string& path, std::vector<RebuiltStream>& streams, RunState& state, UiModel& ui,
                      const std::string& keptAs) {
    auto check = std::make_unique<RunState>();
    CheckUi checkUi(ui, state, *check, FileNamePart(path));
    checkUi.eEVOfile = path;
    check->EarliestPts = 0xFFFFFFFF;
    check->SourceStream = std::make_unique<SourceFile>(path);
    demux(*check, checkUi, ProcessMode::ReadAnalyse);
    check->SourceStream.reset();
    if (check->CancelFlag)
        return false;

    const StreamTally& tally = check->Tally;
    const std::string keptText = ". The output is kept as \"" + keptAs + "\"";
    for (RebuiltStream& stream : streams) {
        stream.found = tally.Streams[stream.newId];
        const bool same = stream.found.Packets == stream.kept.Packets &&
                          stream.found.PayloadBytes == stream.kept.PayloadBytes;
        if (!same)
            throw Error("Rebuild check failed for " + RebuiltStreamName(stream) + ": the rebuilt file holds " +
                        countText(stream.found) + ", Rebuild kept " + countText(stream.kept) + keptText);
    }
    // A demux writes each catalogue slot into one file: no other stream may share one.
    for (const RebuiltStream& stream : streams) {
        const StreamCodec* codec = CodecOfId(stream.newId);
        if (!codec || stream.found.Packets == 0)
            continue;
        for (int id = 0; id < 256; ++id) {
            const StreamCodec* other = CodecOfId(uint8_t(id));
            if (id == stream.newId || !other || other->kind != codec->kind || tally.Streams[size_t(id)].Packets == 0 ||
                SlotOfId(uint8_t(id)) != SlotOfId(stream.newId))
                continue;
            throw Error("Rebuild check failed for " + RebuiltStreamName(stream) + ": the rebuilt file also holds " +
                        countText(tally.Streams[size_t(id)]) + " of " + StreamIdText(uint8_t(id)) +
                        " in its slot" + keptText);
        }
    }
    return true;
}

} // namespace halyard
