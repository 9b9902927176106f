#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BitWriter.h"
#include "TestUi.h"
#include "ToolRunner.h"
#include "analysers/Mpeg2Video.h"
#include "analysers/NumberFormat.h"

namespace halyard {
namespace {

namespace tools = psb::tools;
using Bytes = std::vector<uint8_t>;
using test::AnalyserHarness;

constexpr uint32_t Pts = 0x0001E240;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// sequence_header_code, horizontal_size_value (12), vertical_size_value (12),
// aspect_ratio_information (4), frame_rate_code (4), bit_rate_value (18), marker_bit,
// vbv_buffer_size_value (10), constrained_parameters_flag, two matrix flags 0.
Bytes SequenceHeader(uint32_t width, uint32_t height, uint32_t aspect, uint32_t rate, uint32_t bitRate = 0x3FFFF) {
    psb::BitWriter w;
    w.bytes({0x00, 0x00, 0x01, 0xB3}).put(width, 12).put(height, 12).put(aspect, 4).put(rate, 4);
    w.put(bitRate, 18).marker().put(112, 10).put(0, 3);
    return w.data();
}

// extension_start_code_identifier 1, profile_and_level_indication 0x48, progressive_sequence, 4:2:0, ...
Bytes SequenceExtension(bool progressive) {
    return {0x00, 0x00, 0x01, 0xB5, 0x14, uint8_t(0x82 | (progressive ? 0x08 : 0)), 0x00, 0x01, 0x00, 0x00};
}

Bytes GroupOfPictures() { return {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x40}; }

// temporal_reference 0, picture_coding_type, vbv_delay 0xFFFF.
Bytes PictureHeader(uint32_t picture_coding_type) {
    return {0x00, 0x00, 0x01, 0x00, 0x00, uint8_t(picture_coding_type << 3 | 0x07), 0xFF, 0xF8};
}

// extension_start_code_identifier 8, f_codes, intra_dc_precision, picture_structure 3, ...
Bytes PictureCodingExtension() { return {0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, 0xF3, 0x41, 0x80}; }

Bytes Slice() { return {0x00, 0x00, 0x01, 0x01, 0x33, 0xF8, 0x7D, 0x29}; }

// A picture: header, coding extension and the start of a slice.
Bytes Picture(uint32_t type = 1) { return PictureHeader(type) + PictureCodingExtension() + Slice(); }

struct Outcome {
    std::vector<std::string> lines;
    double slotFrameRate;
};

Outcome Analyse(const Bytes& payload, int64_t at = 0, int32_t slot = 0, int32_t length = -1) {
    AnalyserHarness h(payload, at);
    h.state->SlotFrameRate = {-1.0, -1.0};
    AnalyseMpeg2Video(h.context, int32_t(at), length < 0 ? int32_t(payload.size()) : length, Pts, 0, slot);
    return {h.ui.lines, h.state->SlotFrameRate[size_t(slot)]};
}

std::vector<std::string> HeaderLines(const std::string& size, const std::string& aspect, const std::string& rate,
                                     const std::string& kbps) {
    return {"   size = [bl]" + size + "[/bl]", aspect, rate, "  Sequence header bitrate = [bl]" + kbps + "[/bl] kbps"};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Mpeg2VideoTest, SequenceHeaderOf720x576At25FpsGivesItsLinesAndFrameRate) {
    Outcome run = Analyse({0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0xFF, 0xFF, 0xE0, 0x18});
    std::vector<std::string> expected{"   Sequence Header found"};
    expected = expected + HeaderLines("720[/bl]x[bl]576", "   Aspect ratio = [bl]16:9[/bl]",
                                      "   Frame rate = [bl]25[/bl] fps", "104857");
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(run.slotFrameRate, 25.0);
}

TEST(Mpeg2VideoTest, FullSequenceWritesProgressiveAndFirstPtsAtSecondPicture) {
    Bytes stream = SequenceHeader(1920, 1080, 3, 4, 20000) + SequenceExtension(false) + GroupOfPictures() +
                   Picture(1) + Picture(2) + Picture(3);
    Outcome run = Analyse(stream, 100, 1);
    std::vector<std::string> expected{"   Sequence Header found"};
    expected = expected +
               HeaderLines("1920[/bl]x[bl]1080", "   Aspect ratio = [bl]16:9[/bl]",
                           "   Frame rate = [bl]29.97[/bl] fps", "8000") +
               std::vector<std::string>{"   Progressive Sequence = 0", "   First Video PTS = 0001E240"};
    EXPECT_EQ(run.lines, expected);
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 30000.0 / 1001.0);
}

TEST(Mpeg2VideoTest, FirstPtsNeedsTwoPictureCodingExtensionsAfterTheSequenceHeader) {
    // Pictures before the sequence header do not count towards it.
    Outcome run = Analyse(Picture() + SequenceHeader(720, 480, 2, 4) + SequenceExtension(true) + Picture());
    EXPECT_EQ(run.lines.back(), "   Progressive Sequence = 1");
}

TEST(Mpeg2VideoTest, PicturesBeforeTheFirstSequenceHeaderAreCounted) {
    Outcome run = Analyse(Picture() + Picture() + SequenceHeader(720, 480, 2, 4) + SequenceExtension(true));
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], "   Sequence Header found");
    EXPECT_EQ(run.lines[1], "   2 frames before first Sequence Header");
}

TEST(Mpeg2VideoTest, SecondSequenceHeaderRepeatsLinesOnlyWhileNoSequenceExtensionCame) {
    // MPEG-1 style: no sequence extension, so no progressive line and the second header repeats.
    Bytes mpeg1 = SequenceHeader(352, 288, 1, 3, 2875) + Picture() + SequenceHeader(352, 288, 1, 3, 2875);
    std::vector<std::string> header = HeaderLines("352[/bl]x[bl]288", "   Aspect ratio = [bl]1:1[/bl] (square samples)",
                                                  "   Frame rate = [bl]25[/bl] fps", "1150");
    std::vector<std::string> expected{"   Sequence Header found"};
    EXPECT_EQ(Analyse(mpeg1).lines, expected + header + header);

    Bytes mpeg2 = SequenceHeader(352, 288, 1, 3, 2875) + SequenceExtension(true) + Picture() +
                  SequenceHeader(704, 576, 2, 1, 2875) + SequenceExtension(false);
    Outcome run = Analyse(mpeg2);
    EXPECT_EQ(run.lines, expected + header + std::vector<std::string>{"   Progressive Sequence = 1"});
    EXPECT_EQ(run.slotFrameRate, 25.0);
}

TEST(Mpeg2VideoTest, PtsCountdownRunsOnAcrossASecondSequenceHeader) {
    // One picture before the second header and one after it make the two.
    Bytes stream = SequenceHeader(720, 576, 2, 3) + SequenceExtension(false) + Picture() +
                   SequenceHeader(720, 576, 2, 3) + Picture();
    EXPECT_EQ(Analyse(stream).lines.back(), "   First Video PTS = 0001E240");
}

TEST(Mpeg2VideoTest, WindowStartsAtZeroSoCodesWithoutLeadingZerosAreTaken) {
    Bytes sequence = SequenceHeader(720, 576, 3, 3);
    Outcome run = Analyse(Bytes(sequence.begin() + 2, sequence.end()));
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0], "   Sequence Header found");
    EXPECT_EQ(run.slotFrameRate, 25.0);

    Bytes picture = PictureHeader(4);
    EXPECT_EQ(Analyse(Bytes(picture.begin() + 1, picture.end())).lines,
              std::vector<std::string>{"   illegal picture_coding_type = 4"});
}

TEST(Mpeg2VideoTest, IllegalPictureCodingTypesAreReported) {
    Outcome run = Analyse(Picture(0) + Picture(1) + Picture(2) + Picture(3) + Picture(4) + Picture(7));
    EXPECT_EQ(run.lines, (std::vector<std::string>{"   illegal picture_coding_type = 0",
                                                   "   illegal picture_coding_type = 4",
                                                   "   illegal picture_coding_type = 7"}));
    EXPECT_EQ(run.slotFrameRate, -1.0) << "no sequence header leaves the frame rate alone";
}

TEST(Mpeg2VideoTest, ForbiddenAndReservedCodesStoreFrameRateOne) {
    Outcome forbidden = Analyse(SequenceHeader(720, 576, 0, 0));
    EXPECT_EQ(forbidden.lines[2], "   Aspect ratio = forbidden");
    EXPECT_EQ(forbidden.lines[3], "   Frame rate = forbidden");
    EXPECT_EQ(forbidden.slotFrameRate, 1.0);
    Outcome reserved = Analyse(SequenceHeader(720, 576, 15, 9));
    EXPECT_EQ(reserved.lines[2], "   Aspect ratio = reserved");
    EXPECT_EQ(reserved.lines[3], "   Frame rate = reserved");
    EXPECT_EQ(reserved.slotFrameRate, 1.0);
}

TEST(Mpeg2VideoTest, OnlyTheBytesOfThePayloadInsideTheBlockAreLookedAt) {
    Bytes header = SequenceHeader(720, 576, 3, 3);
    // Cut after the aspect/rate byte by the block's end: no bit rate line.
    std::vector<std::string> cut{"   Sequence Header found", "   size = [bl]720[/bl]x[bl]576[/bl]",
                                 "   Aspect ratio = [bl]16:9[/bl]", "   Frame rate = [bl]25[/bl] fps"};
    Bytes head(header.begin(), header.begin() + 8);
    EXPECT_EQ(Analyse(head, BlockSize - 8, 0, 500).lines, cut);
    // Cut by the payload's length, with the rest of the header still in the block.
    EXPECT_EQ(Analyse(header, 0, 0, 8).lines, cut);
    // A start code split by the block's end is not completed by invented bytes.
    EXPECT_TRUE(Analyse({0x00, 0x00, 0x01}, BlockSize - 3, 0, 100).lines.empty());
}

// ffprobe as the oracle for real encoder output.

class Mpeg2VideoFfprobeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tools::haveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }

    // Encodes three pictures of a test pattern and checks the analyser's lines against ffprobe.
    void ExpectAgreement(const std::string& source, const std::string& options) {
        const std::string video = dir_.file("x.m2v");
        const std::string json = tools::encodeAndProbe(
            "-f lavfi -i " + source + " -frames 3 -c:v mpeg2video " + options + " -f mpeg2video", video);
        ASSERT_FALSE(json.empty()) << "ffmpeg or ffprobe failed on " << source << " " << options;
        // The first 2016 bytes, as one pack's payload would carry them.
        Outcome run = Analyse(tools::readHead(video, 2016), 14);
        ASSERT_GE(run.lines.size(), 6u) << json;
        EXPECT_EQ(run.lines[1], "   size = [bl]" + tools::jsonField(json, "width") + "[/bl]x[bl]" + tools::jsonField(json, "height") + "[/bl]");
        EXPECT_EQ(run.lines[2], "   Aspect ratio = [bl]" + tools::jsonField(json, "display_aspect_ratio") + "[/bl]");

        const double fps = tools::ratioValue(tools::jsonField(json, "r_frame_rate"));
        EXPECT_DOUBLE_EQ(run.slotFrameRate, fps);
        EXPECT_EQ(run.lines[3], "   Frame rate = [bl]" + Thousandths(fps) + "[/bl] fps");
        EXPECT_EQ(run.lines[5], std::string("   Progressive Sequence = ") +
                                    (tools::jsonField(json, "field_order") == "progressive" ? "1" : "0"));
    }

    const tools::TempDir dir_{"halyard-mpeg2video"};
};

TEST_F(Mpeg2VideoFfprobeTest, Ntsc16By9AgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=720x480:rate=30000/1001", "-aspect 16:9");
}

TEST_F(Mpeg2VideoFfprobeTest, Hd25FpsAgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=1920x1080:rate=25", "-b:v 15M");
}

TEST_F(Mpeg2VideoFfprobeTest, Pal4By3At23976AgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=720x576:rate=24000/1001", "-aspect 4:3");
}

} // namespace
} // namespace halyard
