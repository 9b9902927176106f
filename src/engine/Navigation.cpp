// System header probe and the navigation pack: stream counts, VOB number, the start
// and end presentation times of the video object, and the file's duration.
#include "analysers/NumberFormat.h"
#include "engine/Demuxer.h"
#include "engine/TimeFormat.h"

namespace halyard {

namespace {
constexpr uint8_t DsiSubstreamId = 0x01;

// Offsets from the first byte after the private-stream-2 substream id of the DSI.
constexpr int64_t VobNumberOffset = 24;         // vobu_vob_idn
constexpr int64_t StartPtmOffset = 44;          // vob_v_s_ptm
constexpr int64_t EndPtmOffset = 48;            // vob_v_e_ptm
constexpr int64_t AudioSyncOffsetVob = 402;     // 8 x 16-bit a_synca
constexpr int64_t AudioSyncOffsetOther = 530;
constexpr int64_t SubpictureSyncOffsetVob = 418; // 32 x 32-bit sp_synca
constexpr int64_t SubpictureSyncOffsetOther = 546;

constexpr double PtsPerSecond = 90000.0;
constexpr double SecondsPerDay = 86400.0;
} // namespace

// Big-endian 32-bit word at index of the block; bytes past the valid ones read as zero.
uint32_t Demuxer::word32At(int64_t index) const {
    BitReader reader(block_, c_.BlockLength, index);
    reader.LoadWord();
    return reader.accumulator();
}

// The first pack of a file read from its start: 00 00 01 BB at bytes 14-17.
void Demuxer::probeSystemHeader() {
    const uint8_t* block = block_;
    if (c_.BlockLength < 25 || block[16] != 0x01 || block[17] != 0xBB)
        return;
    c_.VideoBound = block[24] & 0x1F;
    c_.AudioBound = block[23] >> 2;
    if (sourceKind_ != SourceKind::Aob)
        return;
    std::string line = "It contains";
    if (c_.VideoBound > 0)
        line += " [b]" + Dec(c_.VideoBound) + "[/b] video stream and";
    line += " [b]" + Dec(c_.AudioBound) + "[/b] audio stream";
    line += c_.AudioBound > 1 ? "s." : ".";
    ui_.log(line);
}

// C3. The byte after a private-stream-2 packet length.
void Demuxer::navSubstreamByte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.NavSubstreamPending = false;
    if (byte == DsiSubstreamId && c_.FirstNavPending)
        c_.NavPending = true;
    else
        c_.SkipPending = c_.PacketRemaining;
}

// C4. The first navigation data of the run, at ScanPosition.
void Demuxer::navigationHandler() {
    const int64_t base = c_.ScanPosition;
    const bool vob = sourceKind_ == SourceKind::Vob;
    c_.FirstNavPending = false;

    if (c_.AudioBound == 0) {
        const int64_t audioSync = base + (vob ? AudioSyncOffsetVob : AudioSyncOffsetOther);
        for (int i = 0; i < 8; ++i)
            if ((word32At(audioSync + 2 * i) >> 16) != 0)
                ++c_.AudioBound;
    }
    const int64_t subpictureSync = base + (vob ? SubpictureSyncOffsetVob : SubpictureSyncOffsetOther);
    c_.SubpictureCount = 0;
    for (int i = 0; i < 32; ++i)
        if (word32At(subpictureSync + 4 * i) != 0)
            ++c_.SubpictureCount;
    const uint32_t vobNumber = word32At(base + VobNumberOffset) >> 16;

    if (mode_ == ProcessMode::ReadAnalyse) {
        std::string line = "VOB number " + Dec(vobNumber);
        line += " contains [b]" + Dec(c_.VideoBound) + "[/b] video ";
        line += c_.SubpictureCount > 0 ? "," : "and";
        line += " [b]" + Dec(c_.AudioBound) + "[/b] audio ";
        if (c_.SubpictureCount > 0)
            line += "and [b]" + Dec(c_.SubpictureCount) + "[/b] subpicture ";
        line += "stream";
        line += (c_.VideoBound + c_.AudioBound + c_.SubpictureCount > 1) ? "s." : ".";
        ui_.log(line);
    }

    const uint32_t start = word32At(base + StartPtmOffset);
    if (state_.FirstVideoPts == 0)
        state_.FirstVideoPts = start;
    if (mode_ == ProcessMode::ReadAnalyse)
        ui_.log("PTM of first video frame = [re]" + Hex(start, 8) + "[/re]");

    const uint32_t end = word32At(base + EndPtmOffset);
    state_.LastVideoPts = end;
    if (mode_ == ProcessMode::ReadAnalyse)
        ui_.log("PTM of last video frame = " + Hex(end, 8));

    const double seconds = double(uint32_t(end - start)) / PtsPerSecond;
    state_.TotalDuration += seconds;
    state_.FileDuration = seconds / SecondsPerDay;
    if (mode_ == ProcessMode::ReadAnalyse)
        ui_.log("Duration = [b]" + FormatHmsZzz(state_.FileDuration) + "[/b]");

    // Go on after the packet; an empty or damaged packet never moves the scan back.
    const int32_t rest = c_.PacketRemaining > 0 ? c_.PacketRemaining : 0;
    c_.PacketRemaining = 0;
    c_.NavPending = false;
    c_.ScanPosition = int32_t(base + rest - 1);
}

} // namespace halyard
