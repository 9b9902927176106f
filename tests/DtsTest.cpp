#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "BitWriter.h"
#include "TestUi.h"
#include "ToolRunner.h"
#include "analysers/Dts.h"

namespace halyard {
namespace {

namespace tools = psb::tools;
using Bytes = std::vector<uint8_t>;

// A DTS core frame: sync word, frame header field by field, then zero bytes up to
// `frameBytes` (at least the header).
struct CoreFrame {
    uint32_t ftype = 1;
    uint32_t shortSamples = 31; // SHORT: 32 samples per block
    uint32_t cpf = 0;
    uint32_t nblks = 15;        // 16 blocks
    uint32_t fsize = 2011;      // 2012 bytes
    uint32_t amode = 9;
    uint32_t sfreq = 13;
    uint32_t rate = 15;
    uint32_t extAudioId = 0;
    uint32_t extAudio = 0;
    uint32_t lff = 1;
    uint32_t hcrc = 0;
    uint32_t vernum = 7;
    uint32_t pcmr = 6;
    size_t frameBytes = 16;

    Bytes bytes() const {
        psb::BitWriter w;
        w.put(0x7FFE8001, 32);
        w.put(ftype, 1).put(shortSamples, 5).put(cpf, 1).put(nblks, 7).put(fsize, 14);
        w.put(amode, 6).put(sfreq, 4).put(rate, 5);
        w.put(0, 5); // FixedBit, DYNF, TIMEF, AUXF, HDCD
        w.put(extAudioId, 3).put(extAudio, 1);
        w.put(0, 1); // ASPF
        w.put(lff, 2);
        w.put(0, 1); // HFLAG
        if (cpf)
            w.put(hcrc, 16);
        w.put(0, 1); // FILTS
        w.put(vernum, 4);
        w.put(0, 2); // CHIST
        w.put(pcmr, 3);
        w.alignZero();
        Bytes out = w.data();
        if (out.size() < frameBytes)
            out.resize(frameBytes, 0);
        return out;
    }
};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<std::string> runDts(const Bytes& bytes, int64_t at = 0, std::optional<int32_t> length = {}, char separator = '.') {
    test::AnalyserHarness h(bytes, at);
    h.state->DecimalSeparator = separator;
    AnalyseDts(h.context, int32_t(at), length.value_or(int32_t(bytes.size())));
    return h.ui.lines;
}

const std::vector<std::string> DefaultCoreLines{
    "   PCM core samples = 32",
    "   PCM sample blocks = 16",
    "   Primary frame byte size = 2012",
    "   Channel arrangement = [bl]C + L + R + Ls + Rs[/bl]",
    "   Sampling frequency = [bl]48[/bl] kHz",
    "   Transmission bitrate = [bl]768[/bl] kbit/s",
    "   LFE channel = [bl]present[/bl] (IF:128)",
    "   Encoder software rev. = 7, Current",
    "   Source PCM resolution = [bl]24[/bl] bits",
};

TEST(DtsCoreHeader, WritesEveryFieldInOrder) {
    EXPECT_EQ(runDts(CoreFrame{}.bytes()), DefaultCoreLines);
}

TEST(DtsCoreHeader, TableTextsKeepTheirOwnDecimalMark) {
    CoreFrame frame;
    frame.sfreq = 8;
    frame.rate = 22;
    const auto lines = runDts(frame.bytes(), 0, {}, ',');
    EXPECT_EQ(lines[4], "   Sampling frequency = [bl]44,1[/bl] kHz");
    EXPECT_EQ(lines[5], "   Transmission bitrate = [bl]1411,2[/bl] kbit/s");
}

TEST(DtsCoreHeader, CodesOutsideTheNamedOnes) {
    CoreFrame frame;
    frame.amode = 16;
    frame.sfreq = 4;
    frame.rate = 31;
    frame.lff = 3;
    frame.pcmr = 7;
    auto lines = runDts(frame.bytes());
    EXPECT_EQ(lines[3], "   Channel arrangement = [bl]User defined[/bl]");
    EXPECT_EQ(lines[4], "   Sampling frequency = [bl][/bl] kHz");
    EXPECT_EQ(lines[5], "   Transmission bitrate = [bl]Loss-less[/bl] kbit/s");
    EXPECT_EQ(lines[6], "   LFE channel = invalid");
    EXPECT_EQ(lines[8], "   Source PCM resolution = ");
    frame.amode = 63;
    EXPECT_EQ(runDts(frame.bytes())[3], "   Channel arrangement = [bl]User defined[/bl]");
}

TEST(DtsCoreHeader, HeaderCrcOnlyWithCpfAndLaterFieldsFollowIt) {
    CoreFrame frame;
    frame.cpf = 1;
    frame.hcrc = 0x00AB;
    frame.vernum = 9;
    frame.pcmr = 1;
    auto lines = runDts(frame.bytes());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[7], "   Header CRC = 00AB");
    EXPECT_EQ(lines[8], "   Encoder software rev. = 9, Future rev. (incompatible");
    EXPECT_EQ(lines[9], "   Source PCM resolution = [bl]16[/bl] bits, [bl]DTS ES[/bl]");

    frame.cpf = 0;
    frame.vernum = 0;
    lines = runDts(frame.bytes());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[7], "   Encoder software rev. = 0, Future rev. (compatible)");
}

TEST(DtsCoreHeader, ExtensionAudioLineOnlyWhenFlagged) {
    CoreFrame frame;
    frame.extAudioId = 2;
    frame.extAudio = 0;
    EXPECT_EQ(runDts(frame.bytes()), DefaultCoreLines);

    frame.extAudioId = 3;
    frame.extAudio = 1;
    auto lines = runDts(frame.bytes());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[6], "   Extension audio = Channel and Frequency extension");
    EXPECT_EQ(lines[7], "   LFE channel = [bl]present[/bl] (IF:128)");
}

TEST(DtsScan, EveryCoreFrameAndExtensionIsReported) {
    CoreFrame first;
    CoreFrame second;
    second.amode = 2;
    second.lff = 0;
    const Bytes xch{0x5A, 0x5A, 0x5A, 0x5A, 0x11, 0x22};
    const Bytes x96{0x1D, 0x95, 0xF2, 0x62, 0x33};
    auto lines = runDts(concat({first.bytes(), xch, second.bytes(), x96, Bytes(4, 0)}));
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 9), DefaultCoreLines);
    EXPECT_EQ(lines[9], "   Channel extension found");
    EXPECT_EQ(lines[13], "   Channel arrangement = [bl]L + R (stereo)[/bl]");
    EXPECT_EQ(lines[16], "   LFE channel = not present");
    EXPECT_EQ(lines[19], "   Frequency extensiond found ([bl]96[/bl] kHz)");
}

TEST(DtsScan, PayloadBoundsAndEmptyPayloads) {
    const Bytes frame = CoreFrame{}.bytes();
    // The payload ends with the sync word's last byte: the last byte is never taken in.
    EXPECT_TRUE(runDts(frame, 0, 4).empty());
    // One more byte and it is found; the header is read from the block behind the payload.
    EXPECT_EQ(runDts(frame, 0, 5), DefaultCoreLines);
    EXPECT_TRUE(runDts(Bytes(64, 0x7F)).empty());
    EXPECT_TRUE(runDts(frame, 0, 0).empty());
    EXPECT_TRUE(runDts(frame, 0, -7).empty());
}

TEST(DtsScan, HeaderCutAtTheBlockEndReadsZeros) {
    CoreFrame frame;
    frame.cpf = 1;
    frame.hcrc = 0xFFFF;
    const Bytes bytes = frame.bytes();
    // Sync word and the first two header bytes in the block, the rest beyond it.
    const Bytes cut(bytes.begin(), bytes.begin() + 6);
    const int64_t at = BlockSize - int64_t(cut.size());
    auto lines = runDts(cut, at, 2000);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "   PCM core samples = 32");
    EXPECT_EQ(lines[1], "   PCM sample blocks = 16"); // NBLKS straddles the cut: 0001111 from 0x3C, then zeros
    EXPECT_EQ(lines[2], "   Primary frame byte size = 1");
    EXPECT_EQ(lines[7], "   Header CRC = 0000");
}

// Against ffprobe: a real encoded stream gives the same rate, bit rate, channel
// count and frame size.

std::string between(const std::string& line, const std::string& open, const std::string& close) {
    size_t from = line.find(open);
    if (from == std::string::npos)
        return {};
    from += open.size();
    return line.substr(from, line.find(close, from) - from);
}

// "44,1" kHz → 44100; "1411,2" kbit/s → 1411200.
long thousandFold(std::string text) {
    for (char& c : text)
        if (c == ',')
            c = '.';
    return std::lround(std::stod(text) * 1000);
}

struct EncodedDts {
    int sampleRate;
    int channels;
};

class DtsFfprobe : public ::testing::TestWithParam<EncodedDts> {};

TEST_P(DtsFfprobe, CoreHeaderAgreesWithFfprobe) {
    if (!tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const auto [sampleRate, channels] = GetParam();
    const tools::TempDir dir("halyard-dts");
    const std::string dts = dir.file("x.dts");
    const std::string info = tools::encodeAndProbe(tools::sineInput(sampleRate, "0.1") + " -ac " + std::to_string(channels) +
                                                       " -c:a dca -strict -2 -f dts",
                                                   dts, "-show_entries packet=size -read_intervals %+#1");
    ASSERT_FALSE(info.empty()) << "ffmpeg or ffprobe failed";
    const Bytes bytes = tools::readHead(dts, 4096);

    const auto lines = runDts(bytes);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(thousandFold(between(lines[4], "[bl]", "[/bl]")), std::stol(tools::jsonField(info, "sample_rate")));
    EXPECT_EQ(thousandFold(between(lines[5], "[bl]", "[/bl]")), std::stol(tools::jsonField(info, "bit_rate")));
    EXPECT_EQ(between(lines[2], "= ", "\n"), tools::jsonField(info, "size"));
    // Channel names are joined by " + "; the LFE adds one channel.
    const std::string arrangement = between(lines[3], "[bl]", "[/bl]");
    int named = 1;
    for (size_t at = arrangement.find(" + "); at != std::string::npos; at = arrangement.find(" + ", at + 1))
        ++named;
    const bool lfe = lines[6].find("[bl]present[/bl]") != std::string::npos;
    EXPECT_EQ(named + (lfe ? 1 : 0), std::stoi(tools::jsonField(info, "channels"))) << arrangement;
    EXPECT_EQ(lfe, channels == 6);
    // Every frame whose sync word lies before the payload's last byte is reported.
    const size_t frameSize = std::stoul(tools::jsonField(info, "size"));
    const size_t frames = (bytes.size() - 5) / frameSize + 1;
    EXPECT_EQ(lines.size(), 9 * frames);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DtsFfprobe,
                         ::testing::Values(EncodedDts{48000, 6}, EncodedDts{44100, 2}),
                         [](const auto& layout) { return std::to_string(layout.param.channels) + "ch" +
                                                       std::to_string(layout.param.sampleRate); });

} // namespace
} // namespace halyard
