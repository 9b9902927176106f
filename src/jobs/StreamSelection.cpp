// The stream boxes: reset, the shared click handler and the labels after a read.
#include "jobs/Jobs.h"
#include "jobs/Paths.h"
#include "jobs/StreamNames.h"

namespace halyard {

namespace {
void resetBox(StreamBox& box, const char* caption) {
    box.enabled = false;
    box.caption = caption;
    box.ticked = false;
}

template <size_t N>
bool anyTicked(const std::array<StreamBox, N>& boxes) {
    for (const StreamBox& box : boxes)
        if (box.ticked)
            return true;
    return false;
}

// Enabled and ticked when the slot holds a stream; the caption is stem and suffix.
void offer(StreamBox& box, int32_t typeCode, const std::string& stem, const std::string& suffix) {
    box.enabled = typeCode >= 0;
    box.ticked = box.enabled;
    if (box.ticked)
        box.caption = stem + suffix;
}
} // namespace

void Jobs::Resetcbs() {
    for (StreamBox& box : ui_.cbVideo)
        resetBox(box, "No video stream");
    for (StreamBox& box : ui_.cbAudio)
        resetBox(box, "No audio stream");
    for (StreamBox& box : ui_.cbSub)
        resetBox(box, "No subpicture");
    cbVideoClick();
}

void Jobs::cbVideoClick() {
    const bool any = anyTicked(ui_.cbVideo) || anyTicked(ui_.cbAudio) || anyTicked(ui_.cbSub);
    ui_.bDemux.enabled = any;
    if (UpperExtension(ui_.eEVOfile) == ".EVO")
        ui_.bRebuild.enabled = any;
    ui_.controlsChanged();
}

void Jobs::cbFastCheckClick() {
    ui_.ieFastSizeEdit.enabled = ui_.cbFastCheck;
    ui_.controlsChanged();
}

void Jobs::labelStreamBoxes() {
    const StreamCatalogue& catalogue = state_.Catalogue;
    for (int slot = 0; slot < 2; ++slot) {
        const int32_t type = catalogue.VideoType[size_t(slot)];
        offer(ui_.cbVideo[size_t(slot)], type, VideoStreamName(type), VideoSuffix(slot));
    }
    for (int slot = 0; slot < 16; ++slot) {
        const int32_t type = catalogue.AudioType[size_t(slot)];
        offer(ui_.cbAudio[size_t(slot)], type, AudioStreamName(type), TwoDigitSuffix(slot));
    }
    for (int slot = 0; slot < 16; ++slot) {
        const int32_t type = catalogue.SubpictureType[size_t(slot)];
        offer(ui_.cbSub[size_t(slot)], type, SubpictureStreamName(type), TwoDigitSuffix(slot));
    }
    ui_.controlsChanged();
}

} // namespace halyard
