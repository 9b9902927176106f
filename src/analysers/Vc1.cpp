#include "analysers/Vc1.h"

#include <algorithm>
#include <array>
#include <string>

#include "analysers/BitReader.h"
#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

constexpr uint32_t SequenceHeaderStartCode = 0x0000010F;
constexpr uint32_t AdvancedProfile = 3;
constexpr uint32_t MaxLevel = 4;          // LEVEL 5 to 7 are reserved
constexpr uint32_t Chroma420 = 1;         // COLORDIFF_FORMAT 1 is 4:2:0
constexpr uint32_t ExplicitAspectRatio = 15;

// FRAMERATENR 1 to 7 and FRAMERATEDR 1 to 2; index 0 is forbidden.
constexpr std::array<uint32_t, 8> FrameRateNumerators{0, 24000, 25000, 30000, 50000, 60000, 48000, 72000};
constexpr std::array<uint32_t, 3> FrameRateDenominators{0, 1000, 1001};

struct Vc1Context {
    AnalyserContext& analyser;
    BitReader& reader;
    int32_t videoSlot;

    void log(const std::string& line) const { analyser.log(line); }
    char separator() const { return analyser.state.DecimalSeparator; }
    void setFrameRate(double rate) const {
        if (videoSlot >= 0 && videoSlot < static_cast<int32_t>(analyser.state.SlotFrameRate.size())) {
            analyser.state.SlotFrameRate[static_cast<size_t>(videoSlot)] = rate;
            analyser.state.StreamFrameRate[static_cast<size_t>(videoSlot)] = rate;
        }
    }
};

std::string sizeText(uint32_t horizontal, uint32_t vertical) {
    return "[bl]" + Dec(horizontal) + "[/bl]x[bl]" + Dec(vertical) + "[/bl]";
}

// Maps a FRAMERATENR / FRAMERATEDR code to its value. Code 0 is forbidden and
// gives 0; codes beyond the table are reserved and keep the code itself.
uint32_t frameRateTerm(const Vc1Context& vc1, uint32_t code, const uint32_t* table, uint32_t tableSize) {
    if (code == 0) {
        vc1.log("   Forbidden Frame Rate!");
        return 0;
    }
    if (code >= tableSize) {
        vc1.log("   Reserved Frame Rate!");
        return code;
    }
    return table[code];
}

void decodeFrameRate(const Vc1Context& vc1, bool pulldown) {
    BitReader& reader = vc1.reader;
    if (reader.ReadBits(1) == 1) { // FRAMERATEIND: explicit rate in 1/32 fps
        const uint32_t framerateexp = reader.ReadBits(16);
        const double rate = (framerateexp + 1) / 32.0;
        vc1.log("   Frame Rate = [bl]" + Fraction(rate, vc1.separator()) + "[/bl]");
        vc1.setFrameRate(rate);
        return;
    }
    const uint32_t frameratenr = reader.ReadBits(8);
    const uint32_t frameratedr = reader.ReadBits(4);
    uint32_t numerator =
        frameRateTerm(vc1, frameratenr, FrameRateNumerators.data(), FrameRateNumerators.size());
    const uint32_t denominator =
        frameRateTerm(vc1, frameratedr, FrameRateDenominators.data(), FrameRateDenominators.size());
    // Film carried with 3:2 pulldown in a 30000/1001 frame structure is 24000/1001.
    if (pulldown && numerator == 30000)
        numerator = 24000;
    // A forbidden denominator of 0 gives a rate of 0, which the frame count report
    // takes as "no rate known".
    const double rate = denominator == 0 ? 0.0 : static_cast<double>(numerator) / denominator;
    vc1.log("   Frame Rate = [bl]" + Thousandths(rate, vc1.separator()) + "[/bl] (" + Dec(numerator) + "/" +
            Dec(denominator) + ")");
    vc1.setFrameRate(rate);
}

void decodeDisplayExtension(const Vc1Context& vc1, bool pulldown) {
    BitReader& reader = vc1.reader;
    const uint32_t dispHorizSize = reader.ReadBits(14);
    const uint32_t dispVertSize = reader.ReadBits(14);
    vc1.log("   Display size = " + sizeText(dispHorizSize + 1, dispVertSize + 1));
    if (reader.ReadBits(1) == 1) { // ASPECT_RATIO_FLAG
        const uint32_t aspectRatio = reader.ReadBits(4);
        if (aspectRatio == ExplicitAspectRatio) {
            const uint32_t aspectHorizSize = reader.ReadBits(8);
            const uint32_t aspectVertSize = reader.ReadBits(8);
            vc1.log("   Aspect ratio = " + Dec(aspectHorizSize) + ":" + Dec(aspectVertSize));
        } else {
            vc1.log("   Aspect ratio = " + vc1.analyser.state.Tables.AspectRatioNames[aspectRatio]);
        }
    }
    if (reader.ReadBits(1) == 1) // FRAMERATE_FLAG
        decodeFrameRate(vc1, pulldown);
    if (reader.ReadBits(1) == 1) // COLOR_FORMAT_FLAG
        reader.SkipBits(24);     // COLOR_PRIM (8), TRANSFER_CHAR (8), MATRIX_COEF (8)
}

void decodeSequenceHeader(const Vc1Context& vc1) {
    BitReader& reader = vc1.reader;
    const uint32_t profile = reader.ReadBits(2);
    vc1.log(profile == AdvancedProfile ? "   Profile = Advanced" : "   Profile = Reserved");
    const uint32_t level = reader.ReadBits(3);
    vc1.log(level <= MaxLevel ? "   Level = " + Dec(level) : "   Level = Reserved");
    const uint32_t colordiffFormat = reader.ReadBits(2);
    vc1.log(colordiffFormat == Chroma420 ? "   Chroma Format = [bl]4:2:0[/bl]" : "   Chroma Format = Reserved");
    reader.SkipBits(9); // FRMRTQ_POSTPROC (3), BITRTQ_POSTPROC (5), POSTPROC_FLAG (1)
    const uint32_t maxCodedWidth = reader.ReadBits(12);
    const uint32_t maxCodedHeight = reader.ReadBits(12);
    vc1.log("   Size = " + sizeText(2 * maxCodedWidth + 2, 2 * maxCodedHeight + 2));
    const bool pulldown = reader.ReadBits(1) == 1;
    reader.SkipBits(4); // INTERLACE, TFCNTRFLAG, FINTERPFLAG, reserved (1 each)
    if (reader.ReadBits(1) == 1) // PSF
        vc1.log("  Progressive segmented frames.");
    if (reader.ReadBits(1) == 1) // DISPLAY_EXT
        decodeDisplayExtension(vc1, pulldown);
}

} // namespace

void AnalyseVc1(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, uint32_t /*currentDts*/,
                uint32_t /*videoFirstPts*/, int32_t videoSlot) {
    // The reader is a copy of its own, so the engine's scan position stays untouched.
    BitReader reader = context.startReading(payloadStart);
    // Past the block's valid bytes the window only takes in zero bytes and can never
    // match the start code, so the search may stop at the block's end: what follows
    // is zero bits either way.
    const int64_t limit = std::min<int64_t>(int64_t{payloadStart} + payloadLength - 1, context.blockLength);
    reader.FindStartCode(SequenceHeaderStartCode, limit);
    decodeSequenceHeader(Vc1Context{context, reader, videoSlot});
}

} // namespace halyard
