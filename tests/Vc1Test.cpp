#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "BitWriter.h"
#include "TestUi.h"
#include "analysers/Vc1.h"

namespace halyard {
namespace {

using Bytes = std::vector<uint8_t>;

// An advanced-profile sequence header, written field by field after its start code
// 00 00 01 0F. The defaults describe a 1920x1080 stream at 24000/1001.
struct SequenceHeader {
    uint32_t profile = 3;
    uint32_t level = 3;
    uint32_t colordiffFormat = 1;
    uint32_t maxCodedWidth = 959;
    uint32_t maxCodedHeight = 539;
    uint32_t pulldown = 0;
    uint32_t psf = 0;
    uint32_t displayExt = 1;
    uint32_t dispHorizSize = 1919;
    uint32_t dispVertSize = 1079;
    uint32_t aspectRatioFlag = 1;
    uint32_t aspectRatio = 1;
    uint32_t aspectHorizSize = 0;
    uint32_t aspectVertSize = 0;
    uint32_t framerateFlag = 1;
    uint32_t framerateInd = 0;
    uint32_t framerateExp = 0;
    uint32_t framerateNr = 1;
    uint32_t framerateDr = 2;
    uint32_t colorFormatFlag = 1;

    Bytes bytes() const {
        psb::BitWriter w;
        w.put(0x0000010F, 32);
        w.put(profile, 2).put(level, 3).put(colordiffFormat, 2);
        w.put(0x7, 3).put(0x1F, 5).put(1, 1); // FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROC_FLAG
        w.put(maxCodedWidth, 12).put(maxCodedHeight, 12);
        w.put(pulldown, 1);
        w.put(1, 1).put(1, 1).put(1, 1).put(1, 1); // INTERLACE, TFCNTRFLAG, FINTERPFLAG, reserved
        w.put(psf, 1).put(displayExt, 1);
        if (displayExt) {
            w.put(dispHorizSize, 14).put(dispVertSize, 14);
            w.put(aspectRatioFlag, 1);
            if (aspectRatioFlag) {
                w.put(aspectRatio, 4);
                if (aspectRatio == 15)
                    w.put(aspectHorizSize, 8).put(aspectVertSize, 8);
            }
            w.put(framerateFlag, 1);
            if (framerateFlag) {
                w.put(framerateInd, 1);
                if (framerateInd)
                    w.put(framerateExp, 16);
                else
                    w.put(framerateNr, 8).put(framerateDr, 4);
            }
            w.put(colorFormatFlag, 1);
            if (colorFormatFlag)
                w.put(1, 8).put(1, 8).put(1, 8); // COLOR_PRIM, TRANSFER_CHAR, MATRIX_COEF
        }
        w.put(0, 1); // HRD_PARAM_FLAG
        w.alignOneThenZero();
        return w.data();
    }
};

struct Vc1Run {
    std::vector<std::string> lines;
    double slotFrameRate;
};

constexpr double Untouched = 50.0;

Vc1Run runVc1(const Bytes& bytes, int64_t at = 0, std::optional<int32_t> length = {}, char separator = '.', int32_t slot = 1) {
    test::AnalyserHarness h(bytes, at);
    h.state->DecimalSeparator = separator;
    h.state->SlotFrameRate = {Untouched, Untouched};
    AnalyseVc1(h.context, int32_t(at), length.value_or(int32_t(bytes.size())), 0x12345678, 0x9ABCDEF0, slot);
    EXPECT_EQ(h.state->SlotFrameRate[size_t(1 - slot)], Untouched) << "the other slot is not touched";
    return {h.ui.lines, h.state->SlotFrameRate[size_t(slot)]};
}

std::string lastLine(const Vc1Run& run) {
    return run.lines.empty() ? std::string() : run.lines.back();
}

// The frame rate line, searched from the end: the colour format follows it silently.
std::string frameRateLine(const Vc1Run& run) {
    for (auto it = run.lines.rbegin(); it != run.lines.rend(); ++it)
        if (it->rfind("   Frame Rate = ", 0) == 0)
            return *it;
    return {};
}

TEST(Vc1SequenceHeader, FullHdHeaderAfterOtherStartCodes) {
    // An entry point (00 00 01 0E) and some bytes come before the sequence header.
    Bytes bytes{0x00, 0x00, 0x01, 0x0E, 0x48, 0x00, 0x00, 0x01};
    const Bytes header = SequenceHeader{}.bytes();
    bytes.insert(bytes.end(), header.begin(), header.end());
    const Vc1Run run = runVc1(bytes);
    const std::vector<std::string> expected{
        "   Profile = Advanced",
        "   Level = 3",
        "   Chroma Format = [bl]4:2:0[/bl]",
        "   Size = [bl]1920[/bl]x[bl]1080[/bl]",
        "   Display size = [bl]1920[/bl]x[bl]1080[/bl]",
        "   Aspect ratio = [bl]1:1[/bl] (square samples)",
        "   Frame Rate = [bl]23.976[/bl] (24000/1001)",
    };
    EXPECT_EQ(run.lines, expected);
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);
}

TEST(Vc1SequenceHeader, ReservedProfileLevelAndChroma) {
    SequenceHeader header;
    header.profile = 2;
    header.level = 5;
    header.colordiffFormat = 2;
    const Vc1Run run = runVc1(header.bytes());
    ASSERT_GE(run.lines.size(), 4u);
    EXPECT_EQ(run.lines[0], "   Profile = Reserved");
    EXPECT_EQ(run.lines[1], "   Level = Reserved");
    EXPECT_EQ(run.lines[2], "   Chroma Format = Reserved");
    // Decoding goes on in the advanced-profile layout.
    EXPECT_EQ(run.lines[3], "   Size = [bl]1920[/bl]x[bl]1080[/bl]");
}

TEST(Vc1SequenceHeader, WithoutDisplayExtensionTheRateIsLeftAlone) {
    SequenceHeader header;
    header.displayExt = 0;
    Vc1Run run = runVc1(header.bytes());
    EXPECT_EQ(run.lines.size(), 4u);
    EXPECT_EQ(run.slotFrameRate, Untouched);

    header.psf = 1;
    run = runVc1(header.bytes());
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[4], "  Progressive segmented frames.");
    EXPECT_EQ(run.slotFrameRate, Untouched);

    // A display extension without a frame rate leaves it alone too.
    header.displayExt = 1;
    header.framerateFlag = 0;
    run = runVc1(header.bytes(), 0, {}, '.', 0);
    EXPECT_EQ(lastLine(run), "   Aspect ratio = [bl]1:1[/bl] (square samples)");
    EXPECT_EQ(run.slotFrameRate, Untouched);
}

TEST(Vc1SequenceHeader, AspectRatioCodes) {
    SequenceHeader header;
    header.framerateFlag = 0;
    header.aspectRatio = 15;
    header.aspectHorizSize = 16;
    header.aspectVertSize = 9;
    EXPECT_EQ(lastLine(runVc1(header.bytes())), "   Aspect ratio = 16:9");
    header.aspectRatio = 14;
    EXPECT_EQ(lastLine(runVc1(header.bytes())), "   Aspect ratio = [bl]4:3[/bl]");
    header.aspectRatioFlag = 0;
    EXPECT_EQ(lastLine(runVc1(header.bytes())), "   Display size = [bl]1920[/bl]x[bl]1080[/bl]");
}

TEST(Vc1FrameRate, PulldownTurnsThirtyIntoTwentyFour) {
    SequenceHeader header;
    header.framerateNr = 3; // 30000
    header.framerateDr = 2; // 1001
    header.pulldown = 1;
    Vc1Run run = runVc1(header.bytes());
    EXPECT_EQ(frameRateLine(run), "   Frame Rate = [bl]23.976[/bl] (24000/1001)");
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);

    header.pulldown = 0;
    run = runVc1(header.bytes());
    EXPECT_EQ(frameRateLine(run), "   Frame Rate = [bl]29.97[/bl] (30000/1001)");
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 30000.0 / 1001.0);

    // Only 30000 is changed.
    header.pulldown = 1;
    header.framerateNr = 2;
    header.framerateDr = 1;
    run = runVc1(header.bytes());
    EXPECT_EQ(frameRateLine(run), "   Frame Rate = [bl]25[/bl] (25000/1000)");
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 25.0);
}

TEST(Vc1FrameRate, ExplicitRateAndDecimalSeparator) {
    SequenceHeader header;
    header.framerateInd = 1;
    header.framerateExp = 767; // (767 + 1) / 32 = 24
    Vc1Run run = runVc1(header.bytes());
    EXPECT_EQ(frameRateLine(run), "   Frame Rate = [bl]24[/bl]");
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24.0);

    header.framerateExp = 0; // 1/32
    run = runVc1(header.bytes(), 0, {}, ',');
    EXPECT_EQ(frameRateLine(run), "   Frame Rate = [bl]0,03125[/bl]");

    header.framerateInd = 0;
    run = runVc1(header.bytes(), 0, {}, ',');
    EXPECT_EQ(frameRateLine(run), "   Frame Rate = [bl]23,976[/bl] (24000/1001)");
}

TEST(Vc1FrameRate, ReservedAndForbiddenCodes) {
    SequenceHeader header;
    header.framerateNr = 9;
    Vc1Run run = runVc1(header.bytes());
    ASSERT_EQ(run.lines.size(), 8u);
    EXPECT_EQ(run.lines[6], "   Reserved Frame Rate!");
    EXPECT_EQ(run.lines[7], "   Frame Rate = [bl]0.009[/bl] (9/1001)");

    header.framerateNr = 1;
    header.framerateDr = 3;
    run = runVc1(header.bytes());
    EXPECT_EQ(run.lines[6], "   Reserved Frame Rate!");
    EXPECT_EQ(run.lines[7], "   Frame Rate = [bl]8000[/bl] (24000/3)");

    header.framerateNr = 0;
    header.framerateDr = 1;
    run = runVc1(header.bytes());
    EXPECT_EQ(run.lines[6], "   Forbidden Frame Rate!");
    EXPECT_EQ(run.lines[7], "   Frame Rate = [bl]0[/bl] (0/1000)");
    EXPECT_EQ(run.slotFrameRate, 0.0);

    // A zero denominator gives rate 0 ("no rate known") instead of a division by zero.
    header.framerateNr = 1;
    header.framerateDr = 0;
    run = runVc1(header.bytes());
    EXPECT_EQ(run.lines[6], "   Forbidden Frame Rate!");
    EXPECT_EQ(run.lines[7], "   Frame Rate = [bl]0[/bl] (24000/0)");
    EXPECT_EQ(run.slotFrameRate, 0.0);
}

TEST(Vc1Search, WithoutStartCodeDecodesFromTheLimit) {
    // The window stops with the payload's last byte just behind it, so the fields are
    // read from that byte on: 0xC0 = profile 3, level 0, chroma 0, then zero bits.
    Bytes bytes(11, 0xFF);
    bytes[10] = 0xC0;
    const Vc1Run run = runVc1(bytes);
    const std::vector<std::string> expected{
        "   Profile = Advanced",
        "   Level = 0",
        "   Chroma Format = Reserved",
        "   Size = [bl]2[/bl]x[bl]2[/bl]",
    };
    EXPECT_EQ(run.lines, expected);
}

TEST(Vc1Search, HeaderCutAtTheBlockEnd) {
    const Bytes header = SequenceHeader{}.bytes();
    // Start code, profile to coded size, and the block ends inside MAX_CODED_HEIGHT.
    const Bytes cut(header.begin(), header.begin() + 8);
    const Vc1Run run = runVc1(cut, BlockSize - int64_t(cut.size()), 200);
    ASSERT_EQ(run.lines.size(), 4u);
    EXPECT_EQ(run.lines[0], "   Profile = Advanced");
    // MAX_CODED_HEIGHT keeps its top four bits 0010 and reads zeros after them: 512.
    EXPECT_EQ(run.lines[3], "   Size = [bl]1920[/bl]x[bl]1026[/bl]");
    EXPECT_EQ(run.slotFrameRate, Untouched);
}

} // namespace
} // namespace halyard
