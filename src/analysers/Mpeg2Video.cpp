#include "analysers/Mpeg2Video.h"

#include <algorithm>
#include <array>
#include <string>

#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

constexpr uint32_t PictureStartCode = 0x00000100;
constexpr uint32_t SequenceHeaderCode = 0x000001B3;
constexpr uint32_t ExtensionStartCode = 0x000001B5;

// extension_start_code_identifier, the high four bits of the byte after the code.
constexpr uint32_t SequenceExtensionId = 1;
constexpr uint32_t PictureCodingExtensionId = 8;

// Countdowns over the bytes that follow a start code; a countdown's value after it
// has been decremented names the byte just taken.
constexpr int SequenceHeaderBytes = 7;
constexpr int SizeByte = 4;          // 3rd byte: horizontal_size_value (12), vertical_size_value (12) complete
constexpr int AspectAndRateByte = 3; // 4th byte: aspect_ratio_information (4), frame_rate_code (4)
constexpr int BitRateByte = 0;       // 7th byte: bit_rate_value (18) complete in bytes 5 to 7
constexpr int PictureHeaderBytes = 2; // temporal_reference (10), picture_coding_type (3) end in the 2nd byte
constexpr int PictureCodingExtensionBytes = 5;
constexpr int PtsExtensionByte = 1;
// The first-PTS line is written at the second picture coding extension after the first sequence header.
constexpr int PtsPictureCount = 2;

constexpr uint32_t BitRateUnit = 400; // bit_rate_value counts 400 bit/s units

constexpr std::array<const char*, 16> AspectRatioLines{
    "   Aspect ratio = forbidden",
    "   Aspect ratio = [bl]1:1[/bl] (square samples)",
    "   Aspect ratio = [bl]4:3[/bl]",
    "   Aspect ratio = [bl]16:9[/bl]",
    "   Aspect ratio = [bl]2.21:1[/bl]",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",
};

struct FrameRateEntry {
    const char* line;
    double rate; // what SlotFrameRate receives; 1.0 for codes that name no rate
};

constexpr FrameRateEntry ForbiddenRate{"   Frame rate = forbidden", 1.0};
constexpr FrameRateEntry ReservedRate{"   Frame rate = reserved", 1.0};

constexpr std::array<FrameRateEntry, 16> FrameRates{{
    ForbiddenRate,
    {"   Frame rate = [bl]23.976[/bl] fps", 24000.0 / 1001.0},
    {"   Frame rate = [bl]24[/bl] fps", 24.0},
    {"   Frame rate = [bl]25[/bl] fps", 25.0},
    {"   Frame rate = [bl]29.97[/bl] fps", 30000.0 / 1001.0},
    {"   Frame rate = [bl]30[/bl] fps", 30.0},
    {"   Frame rate = [bl]50[/bl] fps", 50.0},
    {"   Frame rate = [bl]59.94[/bl] fps", 60000.0 / 1001.0},
    {"   Frame rate = [bl]60[/bl] fps", 60.0},
    ReservedRate, ReservedRate, ReservedRate, ReservedRate, ReservedRate, ReservedRate, ReservedRate,
}};

// One pass over the payload with a start-code window; every byte is taken by the
// first rule that applies to it (see take()).
class Mpeg2VideoScanner {
public:
    Mpeg2VideoScanner(AnalyserContext& context, uint32_t videoFirstPts, int32_t videoSlot)
        : context_(context), videoFirstPts_(videoFirstPts), videoSlot_(videoSlot) {}

    void take(uint8_t byte) {
        window_ = (window_ << 8) | byte;
        if (window_ == PictureStartCode)
            pictureCountdown_ = PictureHeaderBytes;
        else if (window_ == SequenceHeaderCode)
            startSequenceHeader();
        else if (sequenceCountdown_ > 0)
            sequenceHeaderByte(byte);
        else if (pictureCountdown_ > 0)
            pictureHeaderByte();
        else if (window_ == ExtensionStartCode)
            extensionPending_ = true;
        else if (extensionPending_)
            extensionIdentifierByte(byte);
        else if (pictureExtensionCountdown_ > 0)
            pictureCodingExtensionByte();
        else if (sequenceExtensionPending_)
            sequenceExtensionByte(byte);
    }

private:
    void startSequenceHeader() {
        sequenceCountdown_ = SequenceHeaderBytes;
        if (!sequenceHeaderSeen_) {
            context_.log("   Sequence Header found");
            if (pictures_ > 0)
                context_.log("   " + Dec(pictures_) + " frames before first Sequence Header");
            sequenceHeaderSeen_ = true;
            ptsCountdown_ = PtsPictureCount;
        }
        pictures_ = 0;
    }

    void sequenceHeaderByte(uint8_t byte) {
        --sequenceCountdown_;
        if (headerLinesDone_)
            return;
        switch (sequenceCountdown_) {
        case SizeByte: {
            uint32_t horizontal_size_value = (window_ >> 12) & 0xFFF;
            uint32_t vertical_size_value = window_ & 0xFFF;
            context_.log("   size = [bl]" + Dec(horizontal_size_value) + "[/bl]x[bl]" + Dec(vertical_size_value) +
                         "[/bl]");
            break;
        }
        case AspectAndRateByte: {
            uint32_t aspect_ratio_information = byte >> 4;
            uint32_t frame_rate_code = byte & 0x0F;
            const FrameRateEntry& frameRate = FrameRates[frame_rate_code];
            context_.log(AspectRatioLines[aspect_ratio_information]);
            context_.log(frameRate.line);
            if (videoSlot_ >= 0 && size_t(videoSlot_) < context_.state.SlotFrameRate.size()) {
                context_.state.SlotFrameRate[size_t(videoSlot_)] = frameRate.rate;
                const bool named = frame_rate_code >= 1 && frame_rate_code <= 8;
                context_.state.StreamFrameRate[size_t(videoSlot_)] = named ? frameRate.rate : 0.0;
            }
            break;
        }
        case BitRateByte: {
            // Window: aspect/rate byte, then bit_rate_value (18), marker_bit (1), vbv_buffer_size high 5 bits.
            uint32_t bit_rate_value = (window_ >> 6) & 0x3FFFF;
            context_.log("  Sequence header bitrate = [bl]" + Dec(bit_rate_value * BitRateUnit / 1000) +
                         "[/bl] kbps");
            break;
        }
        default:
            break;
        }
    }

    void pictureHeaderByte() {
        if (--pictureCountdown_ > 0)
            return;
        // Second byte: temporal_reference low 2 bits, picture_coding_type (3), vbv_delay high 3 bits.
        uint32_t picture_coding_type = (window_ >> 3) & 0x07;
        if (picture_coding_type == 0 || picture_coding_type > 3)
            context_.log("   illegal picture_coding_type = " + Dec(picture_coding_type));
    }

    void extensionIdentifierByte(uint8_t byte) {
        extensionPending_ = false;
        uint32_t extension_start_code_identifier = byte >> 4;
        if (extension_start_code_identifier == PictureCodingExtensionId) {
            if (sequenceHeaderSeen_)
                pictureExtensionCountdown_ = PictureCodingExtensionBytes;
            ++pictures_;
        } else if (extension_start_code_identifier == SequenceExtensionId) {
            sequenceExtensionPending_ = true;
        }
    }

    void pictureCodingExtensionByte() {
        if (--pictureExtensionCountdown_ != PtsExtensionByte || ptsCountdown_ == 0)
            return;
        if (ptsCountdown_ == PtsPictureCount)
            rememberedPts_ = videoFirstPts_;
        if (--ptsCountdown_ == 0)
            context_.log("   First Video PTS = " + Hex(rememberedPts_, 8));
    }

    void sequenceExtensionByte(uint8_t byte) {
        sequenceExtensionPending_ = false;
        if (headerLinesDone_)
            return;
        // Second byte: profile_and_level_indication low 4 bits, progressive_sequence (1), ...
        uint32_t progressive_sequence = (byte >> 3) & 1;
        context_.log("   Progressive Sequence = " + Dec(progressive_sequence));
        headerLinesDone_ = true;
    }

    AnalyserContext& context_;
    uint32_t videoFirstPts_;
    int32_t videoSlot_;

    uint32_t window_ = 0;
    int sequenceCountdown_ = 0;
    int pictureCountdown_ = 0;
    bool extensionPending_ = false;
    int pictureExtensionCountdown_ = 0;
    bool sequenceExtensionPending_ = false;
    bool sequenceHeaderSeen_ = false;
    bool headerLinesDone_ = false;
    int32_t pictures_ = 0;
    int ptsCountdown_ = 0;
    uint32_t rememberedPts_ = 0;
};

} // namespace

void AnalyseMpeg2Video(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength,
                       uint32_t videoFirstPts, uint32_t /*currentDts*/, int32_t videoSlot) {
    Mpeg2VideoScanner scanner(context, videoFirstPts, videoSlot);
    // Bytes beyond the block's valid bytes belong to the next block and are not looked at.
    int64_t first = std::max<int64_t>(payloadStart, 0);
    int64_t end = std::min<int64_t>(int64_t{payloadStart} + std::max<int32_t>(payloadLength, 0), context.blockLength);
    for (int64_t i = first; i < end; ++i)
        scanner.take(context.byteAt(i));
}

} // namespace halyard
