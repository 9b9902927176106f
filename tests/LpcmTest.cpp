#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PsBuilder.h"
#include "TestUi.h"
#include "ToolRunner.h"
#include "analysers/Lpcm.h"

namespace halyard {
namespace {

namespace tools = psb::tools;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// The seven header bytes followed by `payloadLength` bytes of payload (0x11), as the
// engine leaves them: the payload starts right after the header.
Lines analyse(const Bytes& header, int32_t payloadLength = 4, char separator = '.') {
    Bytes bytes = header;
    bytes.resize(header.size() + size_t(std::max(payloadLength, 0)), 0x11);
    test::AnalyserHarness h(bytes, 50);
    h.state->DecimalSeparator = separator;
    AnalyseLpcm(h.context, 50 + int32_t(header.size()), payloadLength);
    return h.ui.lines;
}

// a0 | 5 frame headers | pointer 0004 | emphasis 0 mute 0 frame 0 |
// quantization 00 sampling 00 channels 000 | dynamic range 80 (none)
const Bytes PlainHeader{0xA0, 0x05, 0x00, 0x04, 0x00, 0x00, 0x80};

TEST(Lpcm, ReportsEveryHeaderField) {
    const Lines expected{
        "   Number of frame headers = 5",
        "   First acces unit pointer = 0004",
        "   Emphasis = off, mute = off",
        "   Frame number = 0",
        "   Quantization length = [bl]16[/bl] bits",
        "   Sampling frequency = [bl]48[/bl] kHz",
        "   Number of audio channels = [bl]1[/bl]",
    };
    EXPECT_EQ(analyse(PlainHeader), expected);

    // emphasis 1 mute 1 frame 10011 | 24 bits (10), 96 kHz (01), channel code 101
    EXPECT_EQ(analyse({0xA1, 0xFF, 0x12, 0x34, 0xD3, 0x95, 0x80}), (Lines{
        "   Number of frame headers = 255",
        "   First acces unit pointer = 1234",
        "   Emphasis = on, mute = on",
        "   Frame number = 19",
        "   Quantization length = [bl]24[/bl] bits",
        "   Sampling frequency = [bl]96[/bl] kHz",
        "   Number of audio channels = [bl]2[/bl]", // only the low two bits of 101 count
    }));
}

TEST(Lpcm, UnnamedCodesGiveEmptyTexts) {
    // quantization 11, sampling 11
    const Lines lines = analyse({0xA0, 0x05, 0x00, 0x04, 0x00, 0xF0, 0x80});
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "   Quantization length = [bl][/bl] bits");
    EXPECT_EQ(lines[5], "   Sampling frequency = [bl][/bl] kHz");
}

TEST(Lpcm, DynamicRangeLine) {
    Bytes header = PlainHeader;
    header[6] = 0x00;
    EXPECT_EQ(analyse(header).back(), "   Dynamic range = 24.082 dB");
    header[6] = 0xFF;
    EXPECT_EQ(analyse(header).back(), "   Dynamic range = -24.2839 dB");
    header[6] = 0x21; // 24.082 - 6.0206 - 0.2007
    EXPECT_EQ(analyse(header, 4, ',').back(), "   Dynamic range = 17,8607 dB");
}

TEST(Lpcm, ShortPayloadStopsBeforeTheDynamicRange) {
    Bytes header = PlainHeader;
    header[6] = 0x00;
    EXPECT_EQ(analyse(header, 1).size(), 8u);
    EXPECT_EQ(analyse(header, 0).size(), 7u);
    EXPECT_EQ(analyse(header, -1).size(), 4u); // up to the emphasis and frame number lines
}

TEST(Lpcm, HeaderAtTheBlockEnd) {
    Bytes header = PlainHeader;
    header[6] = 0x00;
    // The payload starts at the block's end and claims to run on into the next block.
    test::AnalyserHarness h(header, BlockSize - 7);
    AnalyseLpcm(h.context, BlockSize, 100);
    ASSERT_EQ(h.ui.lines.size(), 8u);
    EXPECT_EQ(h.ui.lines.back(), "   Dynamic range = 24.082 dB");
}

// Against ffprobe: the first LPCM packet of a DVD program stream made by ffmpeg.

// The first private stream 1 packet: 00 00 01 BD, length (2), flags (2), header data
// length, the optional header; the LPCM header follows. Returns the index of the
// payload after the 7-byte LPCM header, or 0.
size_t firstLpcmPayload(const Bytes& ps) {
    for (size_t i = 0; i + 9 < ps.size(); ++i) {
        if (ps[i] == 0 && ps[i + 1] == 0 && ps[i + 2] == 1 && ps[i + 3] == 0xBD) {
            size_t substream = i + 9 + ps[i + 8];
            return substream + 7 < ps.size() && (ps[substream] & 0xF8) == 0xA0 ? substream + 7 : 0;
        }
    }
    return 0;
}

struct Encoding {
    int sampleRate;
    int channels;
    const char* sampleFormat; // s16: 16 bits, s32: 24 bits
};

class LpcmFfprobe : public ::testing::TestWithParam<Encoding> {};

TEST_P(LpcmFfprobe, HeaderAgreesWithFfprobe) {
    if (!tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const Encoding e = GetParam();
    const tools::TempDir dir("halyard-lpcm");
    const std::string vob = dir.file("x.vob");
    const std::string info = tools::encodeAndProbe(tools::sineInput(e.sampleRate, "0.2") + " -ac " + std::to_string(e.channels) +
                                                       " -c:a pcm_dvd -sample_fmt " + e.sampleFormat + " -f dvd",
                                                   vob);
    ASSERT_FALSE(info.empty()) << "ffmpeg or ffprobe failed";
    const Bytes ps = psb::readFile(vob);

    const size_t payload = firstLpcmPayload(ps);
    ASSERT_GT(payload, 0u);
    test::AnalyserHarness h(ps);
    AnalyseLpcm(h.context, int32_t(payload), 100);
    const Lines& lines = h.ui.lines;
    ASSERT_EQ(lines.size(), 7u); // ffmpeg writes dynamic range 0x80: no line
    EXPECT_EQ(lines[4], "   Quantization length = [bl]" + tools::jsonField(info, "bits_per_raw_sample") + "[/bl] bits");
    EXPECT_EQ(lines[5], "   Sampling frequency = [bl]" + std::to_string(std::stoi(tools::jsonField(info, "sample_rate")) / 1000) +
                            "[/bl] kHz");
    EXPECT_EQ(lines[6], "   Number of audio channels = [bl]" + tools::jsonField(info, "channels") + "[/bl]");
}

INSTANTIATE_TEST_SUITE_P(Encodings, LpcmFfprobe,
                         ::testing::Values(Encoding{48000, 2, "s16"}, Encoding{96000, 2, "s32"},
                                           Encoding{48000, 1, "s32"}),
                         [](const auto& instance) {
                             return std::to_string(instance.param.channels) + "ch" + std::to_string(instance.param.sampleRate) +
                                    instance.param.sampleFormat;
                         });

} // namespace
} // namespace halyard
