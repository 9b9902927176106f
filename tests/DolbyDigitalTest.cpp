#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUi.h"
#include "ToolRunner.h"
#include "analysers/DolbyDigital.h"

namespace halyard {
namespace {

namespace tools = psb::tools;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// 0B 77 | crc1 C1 C2 | fscod 00 frmsizecod 011110 (30) | bsid 01000 (8) bsmod 000 | acmod 111
const Bytes Ac3Frame{0x0B, 0x77, 0xC1, 0xC2, 0x1E, 0x40, 0xE1};
const Lines Ac3Lines{
    "   Stream 0 is [b]Dolby Digital[/b]",
    "   Sampling frequency = [bl]48[/bl] kHz",
    "   Transmission bitrate = [bl]448[/bl] kbit/s",
    "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 8, bsmod =0",
};

// 0B 77 | strmtyp 00 substreamid 000 frmsiz 01011111111 (767) |
// fscod 00 numblkscod 11 acmod 111 lfeon 1 | bsid 10000 (16) ... | 00
const Bytes PlusFrame{0x0B, 0x77, 0x02, 0xFF, 0x3F, 0x80, 0x00};
const Lines PlusLines{
    "   Stream 0 is [b]Dolby Digital Plus[/b]",
    "   frame size = 1536 bytes, number of blocks per frame = 6",
    "   Sampling frequency = [bl]48[/bl] kHz",
    "   Transmission bitrate = [bl]384[/bl] kbit/s",
    "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 16",
    "   LFE channel = [bl]present[/bl]",
};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Lines analyse(const Bytes& payload, int32_t audioSlot = 0, int64_t at = 100) {
    test::AnalyserHarness h(payload, at);
    AnalyseDolbyDigital(h.context, int32_t(at), int32_t(payload.size()), audioSlot);
    return h.ui.lines;
}

TEST(DolbyDigital, ReportsAc3AndPlusHeaders) {
    EXPECT_EQ(analyse(Ac3Frame), Ac3Lines);
    EXPECT_EQ(analyse(PlusFrame), PlusLines);
    // The stream's number is its audio slot.
    EXPECT_EQ(analyse(PlusFrame, 15)[0], "   Stream 15 is [b]Dolby Digital Plus[/b]");
}

TEST(DolbyDigital, OnlyTheFirstGoodFrameIsReported) {
    const Bytes filler(20, 0x55);
    EXPECT_EQ(analyse(join({filler, Ac3Frame, filler, PlusFrame, Ac3Frame})), Ac3Lines);
}

TEST(DolbyDigital, SyncWordInsideHeaderIsSkipped) {
    // The 0B of the second crc byte and the 77 after it form a sync word: the 77 is
    // passed over and the rest of the header is read one byte later.
    const Bytes frame{0x0B, 0x77, 0xC1, 0x0B, 0x77, 0x1E, 0x40, 0xE1};
    EXPECT_EQ(analyse(frame), Ac3Lines);
}

TEST(DolbyDigital, ReleasedFramesLetTheNextFrameReport) {
    // Plus frame with fscod 3 (byte 3 = 11 11 111 1): 0 kHz, bit rate shown as 0.
    const Bytes plusFscod3{0x0B, 0x77, 0x02, 0xFF, 0xFF, 0x80, 0x00};
    Lines lines = analyse(join({plusFscod3, Ac3Frame}));
    ASSERT_EQ(lines.size(), 6u + Ac3Lines.size());
    EXPECT_EQ(lines[2], "   Sampling frequency = [bl]0[/bl] kHz");
    EXPECT_EQ(lines[3], "   Transmission bitrate = [bl]0[/bl] kbit/s");
    EXPECT_EQ(Lines(lines.begin() + 6, lines.end()), Ac3Lines);

    // AC-3 frmsizecod 38 and 63 are past the rate table: 0 kbit/s, frame released.
    for (uint8_t byte3 : {uint8_t(0x26), uint8_t(0x3F)}) {
        const Bytes badRate{0x0B, 0x77, 0xC1, 0xC2, byte3, 0x40, 0xE1};
        lines = analyse(join({badRate, Ac3Frame}));
        ASSERT_EQ(lines.size(), 2 * Ac3Lines.size());
        EXPECT_EQ(lines[2], "   Transmission bitrate = [bl]0[/bl] kbit/s");
        EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), Ac3Lines);
    }
}

TEST(DolbyDigital, SamplingFrequencyUsesTheDecimalSeparator) {
    Bytes frame = Ac3Frame;
    frame[4] = 0x5E; // fscod 01: 44.1 kHz
    test::AnalyserHarness h(frame);
    h.state->DecimalSeparator = ',';
    AnalyseDolbyDigital(h.context, 0, int32_t(frame.size()), 0);
    ASSERT_EQ(h.ui.lines.size(), 4u);
    EXPECT_EQ(h.ui.lines[1], "   Sampling frequency = [bl]44,1[/bl] kHz");
}

TEST(DolbyDigital, HeaderCutShortWritesNothing) {
    // Cut by the payload length ...
    EXPECT_TRUE(analyse(Bytes(Ac3Frame.begin(), Ac3Frame.end() - 1)).empty());
    // ... by the end of the block, with the payload claiming more ...
    const Bytes head(PlusFrame.begin(), PlusFrame.end() - 1);
    test::AnalyserHarness h(head, BlockSize - int64_t(head.size()));
    AnalyseDolbyDigital(h.context, BlockSize - int32_t(head.size()), 2000, 0);
    EXPECT_TRUE(h.ui.lines.empty());
    // ... and the byte before the payload does not complete a sync word.
    test::AnalyserHarness before(Ac3Frame, 10);
    AnalyseDolbyDigital(before.context, 11, int32_t(Ac3Frame.size()) - 1, 0);
    EXPECT_TRUE(before.ui.lines.empty());
}

// Against ffprobe: the first frames of a real encoded stream.

struct Encoding {
    const char* format; // ac3 or eac3
    int sampleRate;
    const char* layout;
    const char* bitRate;
};

class DolbyDigitalFfprobe : public ::testing::TestWithParam<Encoding> {};

TEST_P(DolbyDigitalFfprobe, HeaderAgreesWithFfprobe) {
    if (!tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const Encoding e = GetParam();
    const tools::TempDir dir("halyard-dd");
    const std::string stream = dir.file("x.es");
    const std::string info = tools::encodeAndProbe(tools::sineInput(e.sampleRate, "0.2") + " -af 'aformat=channel_layouts=" +
                                                       e.layout + "' -c:a " + e.format + " -b:a " + e.bitRate + " -f " + e.format,
                                                   stream);
    ASSERT_FALSE(info.empty()) << "ffmpeg or ffprobe failed";
    const Bytes bytes = tools::readHead(stream, 2016);

    const Lines lines = analyse(bytes);
    const bool plus = std::string(e.format) == "eac3";
    ASSERT_EQ(lines.size(), plus ? 6u : 4u);
    const size_t rate = plus ? 2 : 1;
    const std::string kHz = std::to_string(e.sampleRate / 1000) + (e.sampleRate % 1000 ? ".1" : "");
    EXPECT_EQ(lines[rate], "   Sampling frequency = [bl]" + kHz + "[/bl] kHz");
    EXPECT_EQ(std::to_string(e.sampleRate), tools::jsonField(info, "sample_rate"));
    EXPECT_EQ(lines[rate + 1], "   Transmission bitrate = [bl]" + std::to_string(std::stol(tools::jsonField(info, "bit_rate")) / 1000) +
                                   "[/bl] kbit/s");

    // acmod 7 with an LFE is ffprobe's 5.1(side); acmod 2 without one is stereo.
    const std::string layout = tools::jsonField(info, "channel_layout");
    const bool surround = layout == "5.1(side)";
    ASSERT_TRUE(surround || layout == "stereo") << layout;
    const std::string arrangement = surround ? "L + R + C + Ls + Rs" : "L + R";
    EXPECT_EQ(lines[rate + 2].rfind("   Channel arrangement = [bl]" + arrangement + "[/bl], bsid = ", 0), 0u) << lines[rate + 2];
    if (plus) {
        EXPECT_EQ(lines[5], std::string("   LFE channel = [bl]") + (surround ? "present" : "not present") + "[/bl]");
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, DolbyDigitalFfprobe,
                         ::testing::Values(Encoding{"ac3", 48000, "5.1(side)", "448k"},
                                           Encoding{"ac3", 44100, "stereo", "192k"},
                                           Encoding{"eac3", 48000, "5.1(side)", "384k"},
                                           Encoding{"eac3", 48000, "stereo", "192k"}),
                         [](const auto& instance) {
                             return std::string(instance.param.format) + "_" +
                                    (std::string(instance.param.layout) == "stereo" ? "stereo" : "surround") +
                                    std::to_string(instance.param.sampleRate);
                         });

} // namespace
} // namespace halyard
