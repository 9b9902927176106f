#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUi.h"
#include "ToolRunner.h"
#include "analysers/Mlp.h"

namespace halyard {
namespace {

namespace tools = psb::tools;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

Lines analyse(const Bytes& payload, int64_t at = 30) {
    test::AnalyserHarness h(payload, at);
    AnalyseMlp(h.context, int32_t(at), int32_t(payload.size()));
    return h.ui.lines;
}

Bytes withTail(Bytes bytes, size_t tail = 4) {
    bytes.resize(bytes.size() + tail, 0x00);
    return bytes;
}

// F8 72 6F BB | quantization 0000 0100 | sampling 1000 1111 | 00 |
// reserved 000 channel assignment 10011 (19) | dynamic range 00 00
const Bytes MlpSync{0xF8, 0x72, 0x6F, 0xBB, 0x04, 0x8F, 0x00, 0x13, 0x00, 0x00};
const Lines MlpLines{
    "   [b]Standard MLP[/b] stream (up to 6 channels) ",
    "   Quantization length = [bl]16[/bl] bits",
    "   Sampling frequency = [bl]44.1[/bl] kHz",
    "   Channel arrangement = [bl]Lf + Rf + Ls + Rs + C[/bl]",
    "   Dynamic range control = 24.082 dB .. 24.082 dB",
};

// F8 72 6F BA | sampling 0000 .... | 2ch modifier 10, 6ch modifier 01, 6ch assignment 0111 |
// 1 (6ch assignment 01111 = 15), 8ch modifier 10, ... | 8ch assignment low byte 0x0F | B7 52
const Bytes TrueHdSync{0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x97, 0xC0, 0x0F, 0xB7, 0x52};
const Lines TrueHdLines{
    "   [b]TrueHD[/b] stream (up to 8 channels)",
    "   Sampling frequency = [bl]48[/bl] kHz",
    "   2 ch. decoder",
    "      channel modifier = 2",
    "   6 ch. decoder",
    "      channel modifier = 1",
    "      channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]",
    "   8 ch. decoder",
    "      channel modifier = 2",
    "      channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]",
    // 0xB7: 24.082 - 5 * 6.0206 - 23 * 0.2007; 0x52: 24.082 - 2 * 6.0206 - 18 * 0.2007
    "   Dynamic range control = -10.6371 dB .. 8.4282 dB",
};

TEST(Mlp, ReportsStandardMlpAndTrueHdMajorSyncs) {
    EXPECT_EQ(analyse(withTail(MlpSync)), MlpLines);
    EXPECT_EQ(analyse(withTail(TrueHdSync)), TrueHdLines);
}

TEST(Mlp, DynamicRangeControlSuppressedBy0x80) {
    Bytes mlp = MlpSync;
    mlp[8] = 0x80;
    EXPECT_EQ(analyse(withTail(mlp)), Lines(MlpLines.begin(), MlpLines.end() - 1));
    Bytes trueHd = TrueHdSync;
    trueHd[8] = 0x80;
    EXPECT_EQ(analyse(withTail(trueHd)), Lines(TrueHdLines.begin(), TrueHdLines.end() - 1));
}

TEST(Mlp, TrueHdAssignmentsOutsideTheNamedEntry) {
    Bytes trueHd = TrueHdSync;
    trueHd[5] = 0x01; // 6ch assignment 0001 ...
    trueHd[6] = 0x80; // ... + 1 = 3
    trueHd[7] = 0xFF; // low five bits 31: an empty entry
    const Lines lines = analyse(withTail(trueHd));
    ASSERT_EQ(lines.size(), TrueHdLines.size());
    EXPECT_EQ(lines[6], "      channel arrangement = [bl]???3[/bl]");
    EXPECT_EQ(lines[9], "      channel arrangement = [bl][/bl]");
}

TEST(Mlp, EveryMajorSyncIsReported) {
    const Bytes twice = withTail([] {
        Bytes b = TrueHdSync;
        b.insert(b.end(), 20, 0x11);
        b.insert(b.end(), TrueHdSync.begin(), TrueHdSync.end());
        return b;
    }());
    Lines expected = TrueHdLines;
    expected.insert(expected.end(), TrueHdLines.begin(), TrueHdLines.end());
    EXPECT_EQ(analyse(twice), expected);
}

TEST(Mlp, MlpHeaderIsServedBeforeTrueHd) {
    // A TrueHD sync inside an MLP header: F8 72 6F are MLP bytes 1-3, BA completes
    // the TrueHD sync, and the MLP header keeps the next three bytes before the
    // TrueHD header gets its six.
    Bytes bytes{0xF8, 0x72, 0x6F, 0xBB, 0xF8, 0x72, 0x6F, 0xBA, 0x04, 0x8F, 0x00};
    bytes.insert(bytes.end(), TrueHdSync.begin() + 4, TrueHdSync.end());
    Lines expected{
        MlpLines[0],
        "   Quantization length = [bl][/bl] bits", // 0xF8 >> 4 = 15
        "   Sampling frequency = [bl][/bl] kHz",   // 0x72 >> 4 = 7
        TrueHdLines[0],
        "   Channel arrangement = [bl]Lf + Rf + LFE[/bl]", // 0x04 & 31 = 4
        "   Dynamic range control = -3.0109 dB .. 24.082 dB", // 0x8F: 24.082 - 4 * 6.0206 - 15 * 0.2007
    };
    expected.insert(expected.end(), TrueHdLines.begin() + 1, TrueHdLines.end());
    EXPECT_EQ(analyse(withTail(bytes)), expected);
}

TEST(Mlp, PayloadEndCutsTheReport) {
    // The last byte of the payload is never read: a sync word ending there is not found.
    EXPECT_TRUE(analyse(Bytes(MlpSync.begin(), MlpSync.begin() + 4)).empty());
    EXPECT_EQ(analyse(Bytes(MlpSync.begin(), MlpSync.begin() + 5)).size(), 1u);
    // A header cut by the block's end is reported as far as its bytes reach.
    const Bytes head(TrueHdSync.begin(), TrueHdSync.begin() + 7);
    test::AnalyserHarness h(head, BlockSize - int64_t(head.size()));
    AnalyseMlp(h.context, BlockSize - int32_t(head.size()), 1000);
    EXPECT_EQ(h.ui.lines, Lines(TrueHdLines.begin(), TrueHdLines.begin() + 7));
}

TEST(Mlp, DynamicRangeUsesTheDecimalSeparator) {
    test::AnalyserHarness h(withTail(MlpSync));
    h.state->DecimalSeparator = ',';
    AnalyseMlp(h.context, 0, int32_t(MlpSync.size()) + 4);
    EXPECT_EQ(h.ui.lines.back(), "   Dynamic range control = 24,082 dB .. 24,082 dB");
}

// Against ffprobe: the first bytes of a TrueHD stream encoded by ffmpeg.

struct Encoding {
    const char* layout;
    const char* arrangement6ch; // what the 6-channel presentation is called
};

class TrueHdFfprobe : public ::testing::TestWithParam<Encoding> {};

TEST_P(TrueHdFfprobe, MajorSyncAgreesWithFfprobe) {
    if (!tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const Encoding e = GetParam();
    const tools::TempDir dir("halyard-mlp");
    const std::string stream = dir.file("x.thd");
    const std::string info = tools::encodeAndProbe(tools::sineInput(48000, "0.2") + " -af 'aformat=channel_layouts=" +
                                                       e.layout + "' -c:a truehd -strict -2 -f truehd",
                                                   stream);
    ASSERT_FALSE(info.empty()) << "ffmpeg or ffprobe failed";
    const Bytes bytes = tools::readHead(stream, 256);

    const Lines lines = analyse(bytes);
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], TrueHdLines[0]);
    EXPECT_EQ(tools::jsonField(info, "sample_rate"), "48000");
    EXPECT_EQ(lines[1], "   Sampling frequency = [bl]48[/bl] kHz");
    EXPECT_EQ(tools::jsonField(info, "channel_layout"), e.layout);
    EXPECT_EQ(lines[6], "      channel arrangement = [bl]" + std::string(e.arrangement6ch) + "[/bl]");
}

// The 6-channel assignment is a set of bits: 1 L/R, 2 C, 4 LFE, 8 Ls/Rs.
INSTANTIATE_TEST_SUITE_P(Layouts, TrueHdFfprobe,
                         ::testing::Values(Encoding{"5.1(side)", "Lf + Rf + Ls + Rs + C + LFE"},
                                           Encoding{"stereo", "???1"}),
                         [](const auto& instance) { return std::string(instance.param.layout) == "stereo" ? "stereo" : "surround"; });

} // namespace
} // namespace halyard
