#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "BitWriter.h"
#include "TestUi.h"
#include "ToolRunner.h"
#include "analysers/H264.h"
#include "analysers/NumberFormat.h"

namespace halyard {
namespace {

namespace tools = psb::tools;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using test::AnalyserHarness;

void PutUE(psb::BitWriter& w, uint64_t value) {
    unsigned bits = 0;
    while ((value + 1) >> (bits + 1))
        ++bits;
    w.put(0, bits).put(value + 1, bits + 1);
}

void PutSE(psb::BitWriter& w, int64_t value) { PutUE(w, value > 0 ? uint64_t(2 * value - 1) : uint64_t(-2 * value)); }

// The fields of a sequence parameter set that the analyser looks at; defaults give a
// High profile 1920x1080 progressive stream without VUI.
struct Sps {
    uint8_t nalHeader = 0x67;
    uint32_t profile_idc = 100;
    bool constraint_set3_flag = false;
    uint32_t level_idc = 40;
    uint32_t chroma_format_idc = 1;
    uint32_t bit_depth_luma_minus8 = 0;
    uint32_t bit_depth_chroma_minus8 = 0;
    bool seq_scaling_matrix_present_flag = false;
    uint32_t pic_order_cnt_type = 0;
    std::vector<int32_t> offset_for_ref_frame;
    std::optional<uint32_t> num_ref_frames_in_pic_order_cnt_cycle; // the vector's size unless set
    uint32_t pic_width_in_mbs_minus1 = 119;
    uint32_t pic_height_in_map_units_minus1 = 67;
    bool frame_mbs_only_flag = true;
    std::optional<uint32_t> frame_crop_bottom_offset = 4;
    bool vui = false;
    std::optional<uint32_t> aspect_ratio_idc;
    uint32_t sar_width = 0, sar_height = 0;
    std::optional<uint32_t> video_format;
    bool colour_description = false;
    bool chroma_loc_info = false;
    std::optional<std::pair<uint32_t, uint32_t>> timing; // num_units_in_tick, time_scale

    Bytes bytes() const {
        psb::BitWriter w;
        w.bytes({0x00, 0x00, 0x00, 0x01, nalHeader});
        w.put(profile_idc, 8).put(0, 3).flag(constraint_set3_flag).put(0, 4).put(level_idc, 8);
        PutUE(w, 0); // seq_parameter_set_id
        if (profile_idc == 100 || profile_idc == 110 || profile_idc == 122 || profile_idc == 144 ||
            profile_idc == 44 || profile_idc == 10) {
            PutUE(w, chroma_format_idc);
            if (chroma_format_idc == 3)
                w.put(0, 1); // separate_colour_plane_flag
            PutUE(w, bit_depth_luma_minus8);
            PutUE(w, bit_depth_chroma_minus8);
            w.put(0, 1).flag(seq_scaling_matrix_present_flag);
            if (seq_scaling_matrix_present_flag)
                w.put(0, 8); // no list present
        }
        PutUE(w, 4); // log2_max_frame_num_minus4
        PutUE(w, pic_order_cnt_type);
        if (pic_order_cnt_type == 0) {
            PutUE(w, 2);
        } else if (pic_order_cnt_type == 1) {
            w.put(0, 1);
            PutSE(w, -3);
            PutSE(w, 5);
            PutUE(w, num_ref_frames_in_pic_order_cnt_cycle.value_or(uint32_t(offset_for_ref_frame.size())));
            for (int32_t offset : offset_for_ref_frame)
                PutSE(w, offset);
        }
        PutUE(w, 4);  // max_num_ref_frames
        w.put(0, 1);  // gaps_in_frame_num_value_allowed_flag
        PutUE(w, pic_width_in_mbs_minus1);
        PutUE(w, pic_height_in_map_units_minus1);
        w.flag(frame_mbs_only_flag);
        if (!frame_mbs_only_flag)
            w.put(1, 1);
        w.put(1, 1); // direct_8x8_inference_flag
        w.flag(frame_crop_bottom_offset.has_value());
        if (frame_crop_bottom_offset) {
            PutUE(w, 0);
            PutUE(w, 0);
            PutUE(w, 0);
            PutUE(w, *frame_crop_bottom_offset);
        }
        w.flag(vui);
        if (vui) {
            w.flag(aspect_ratio_idc.has_value());
            if (aspect_ratio_idc) {
                w.put(*aspect_ratio_idc, 8);
                if (*aspect_ratio_idc == 255)
                    w.put(sar_width, 16).put(sar_height, 16);
            }
            w.put(0, 1); // overscan_info_present_flag
            w.flag(video_format.has_value());
            if (video_format) {
                w.put(*video_format, 3).put(0, 1).flag(colour_description);
                if (colour_description)
                    w.put(1, 8).put(1, 8).put(1, 8);
            }
            w.flag(chroma_loc_info);
            if (chroma_loc_info) {
                PutUE(w, 1);
                PutUE(w, 2);
            }
            w.flag(timing.has_value());
            if (timing)
                w.put(timing->first, 32).put(timing->second, 32).put(1, 1);
            w.put(0, 1).put(0, 1); // nal_hrd_parameters_present_flag, vcl_hrd_parameters_present_flag
        }
        w.alignOneThenZero(); // rbsp_trailing_bits
        return w.data();
    }
};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes AccessUnitDelimiter{0x00, 0x00, 0x00, 0x01, 0x09, 0x10};

struct Outcome {
    Lines lines;
    double slotFrameRate;
    double streamFrameRate;
};

Outcome Analyse(const Bytes& payload, int64_t at = 0, int32_t slot = 0, int32_t length = -1, char separator = '.') {
    AnalyserHarness h(payload, at);
    h.state->SlotFrameRate = {-1.0, -1.0};
    h.state->StreamFrameRate = {0.0, 0.0};
    h.state->DecimalSeparator = separator;
    AnalyseH264(h.context, int32_t(at), length < 0 ? int32_t(payload.size()) : length, 0, 0, slot);
    return {h.ui.lines, h.state->SlotFrameRate[size_t(slot)], h.state->StreamFrameRate[size_t(slot)]};
}

Lines Analysed(const Sps& sps) { return Analyse(AccessUnitDelimiter + sps.bytes()).lines; }

std::string SizeLine(int width, int height) {
    return "   Size = [bl]" + std::to_string(width) + "[/bl]x[bl]" + std::to_string(height) + "[/bl]";
}

bool Contains(const Lines& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

TEST(H264Test, HighProfile1080pWithVuiGivesEveryLine) {
    Sps sps;
    sps.vui = true;
    sps.aspect_ratio_idc = 1;
    sps.video_format = 2;
    sps.colour_description = true;
    sps.chroma_loc_info = true;
    sps.timing = {{1001, 48000}};
    Outcome run = Analyse(AccessUnitDelimiter + sps.bytes(), 40, 1);
    EXPECT_EQ(run.lines, (Lines{"   Profile = High", "   Level = 4.0",
                                "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 8, 8 bit", SizeLine(1920, 1080),
                                "   Aspect ratio = [bl]1:1[/bl] (square samples)", "   Video format = NTSC",
                                "   Time scale = 0 MHz", "   Frame rate = 47.952 fps"}));
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);
}

// The picture of chroma_format_idc with the given height in macroblocks and bottom crop.
Lines Cropped(uint32_t profile_idc, uint32_t chroma_format_idc, uint32_t heightInMbs, uint32_t bottom) {
    Sps sps;
    sps.profile_idc = profile_idc;
    sps.chroma_format_idc = chroma_format_idc;
    sps.pic_height_in_map_units_minus1 = heightInMbs - 1;
    sps.frame_crop_bottom_offset = bottom;
    return Analysed(sps);
}

TEST(H264Test, HeightIsCroppedByFrameOrFieldAndChromaFactor) {
    Sps fieldPairs;
    fieldPairs.frame_mbs_only_flag = false;
    fieldPairs.pic_height_in_map_units_minus1 = 33;
    fieldPairs.frame_crop_bottom_offset = 2;
    EXPECT_EQ(Analysed(fieldPairs)[3], SizeLine(1920, 1080)); // 2 x 34 x 16 - 2 x 2 x 2

    // Main profile codes no chroma format: 4:2:0 is assumed.
    EXPECT_EQ(Cropped(77, 0, 68, 4), (Lines{"   Profile = Main", "   Level = 4.0", SizeLine(1920, 1080)}));
    // 68 macroblock rows (1088) less 8 crop units of one row: none of these subsample vertically.
    const std::vector<std::tuple<uint32_t, uint32_t, std::string>> formats{
        {100, 0, "monochrome"},
        {122, 2, "4:2:2"},
        {144, 3, "4:4:4"},  // separate_colour_plane_flag is read for 4:4:4
        {100, 5, "Unknown"}, // named nowhere; cropped without subsampling
    };
    for (const auto& [profile_idc, chroma_format_idc, name] : formats) {
        const Lines lines = Cropped(profile_idc, chroma_format_idc, 68, 8);
        EXPECT_EQ(lines[2], "   Chroma format = [bl]" + name + "[/bl]  (l, c) = 8, 8 bit") << chroma_format_idc;
        EXPECT_EQ(lines[3], SizeLine(1920, 1080)) << chroma_format_idc;
    }
    EXPECT_EQ(Cropped(122, 2, 68, 8)[0], "   Profile = High 4:2:2");
}

TEST(H264Test, BitDepthsAreShownPlusEight) {
    Sps sps;
    sps.bit_depth_luma_minus8 = 2;
    sps.bit_depth_chroma_minus8 = 6;
    EXPECT_EQ(Analysed(sps)[2], "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 10, 14 bit");
}

TEST(H264Test, LevelLines) {
    Sps sps;
    sps.profile_idc = 66;
    sps.level_idc = 11;
    sps.constraint_set3_flag = true;
    EXPECT_EQ(Analysed(sps)[1], "   Level = 1b");
    sps.constraint_set3_flag = false;
    EXPECT_EQ(Analysed(sps)[1], "   Level = 1.1");
    sps.level_idc = 9;
    EXPECT_EQ(Analysed(sps)[1], "   Level = 0.9");
    sps.level_idc = 41;
    EXPECT_EQ(Analysed(sps)[1], "   Level = 4.1");
}

TEST(H264Test, ProfileLinesAndTheChromaSubstringTest) {
    // Chroma fields are read for any profile number found in "100 110 122 144".
    const std::vector<std::tuple<uint32_t, std::string, bool>> profiles{{66, "   Profile = Baseline ", false},
                                                                        {144, "   Profile = High 4:4:4", true},
                                                                        {244, "   Profile = Unknown", false},
                                                                        {44, "   Profile = Unknown", true},
                                                                        {10, "   Profile = Unknown", true}};
    for (const auto& [profile_idc, line, chroma] : profiles) {
        Sps sps;
        sps.profile_idc = profile_idc;
        Lines lines = Analysed(sps);
        EXPECT_EQ(lines.at(0), line);
        EXPECT_EQ(Contains(lines, "Chroma format"), chroma) << profile_idc;
        EXPECT_EQ(lines.back(), SizeLine(1920, 1080)) << profile_idc;
    }
}

TEST(H264Test, PictureOrderCountTypesAndScalingMatrixFlagsAreSkipped) {
    Sps sps;
    sps.pic_order_cnt_type = 1;
    sps.offset_for_ref_frame = {1, -2, 7};
    sps.seq_scaling_matrix_present_flag = true;
    sps.frame_crop_bottom_offset.reset();
    EXPECT_EQ(Analysed(sps).back(), SizeLine(1920, 1088));
    sps.pic_order_cnt_type = 2;
    sps.offset_for_ref_frame.clear();
    EXPECT_EQ(Analysed(sps).back(), SizeLine(1920, 1088));
}

TEST(H264Test, AspectRatioAndVideoFormatLines) {
    Sps sps;
    sps.vui = true;
    sps.aspect_ratio_idc = 255;
    sps.sar_width = 4;
    sps.sar_height = 3;
    EXPECT_EQ(Analysed(sps).back(), "   Aspect ratio = 4:3");
    sps.aspect_ratio_idc = 5;
    EXPECT_EQ(Analysed(sps).back(), "   Aspect ratio = [bl]40:33[/bl] (704x480 16:9)");
    sps.aspect_ratio_idc = 15;
    EXPECT_EQ(Analysed(sps).back(), "   Aspect ratio = [bl]3:2[/bl]\"");
    sps.aspect_ratio_idc = 20;
    sps.video_format = 6;
    EXPECT_EQ(Analysed(sps), (Lines{"   Profile = High", "   Level = 4.0",
                                    "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 8, 8 bit", SizeLine(1920, 1080),
                                    "   Video format = "}));
}

TEST(H264Test, TimingLines) {
    Sps sps;
    sps.vui = true;
    sps.timing = {{1126125, 54000000}};
    Lines lines = Analysed(sps);
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"   Time scale = 54 MHz", "   Frame rate = 47.952 fps"}));

    sps.timing = {{1000, 59940}};
    lines = Analyse(AccessUnitDelimiter + sps.bytes(), 0, 0, -1, ',').lines;
    EXPECT_EQ(lines.back(), "   Frame rate = 59,94 fps");

    // Both fields are signed.
    sps.timing = {{1, 0xFFFFFFFF}};
    lines = Analysed(sps);
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"   Time scale = 0 MHz", "   Frame rate = -1 fps"}));

    sps.timing = {{0, 50}};
    Outcome run = Analyse(AccessUnitDelimiter + sps.bytes());
    EXPECT_EQ(Lines(run.lines.end() - 2, run.lines.end()), (Lines{"   Time scale = 0 MHz", "   Frame rate = unknown"}));
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);
}

TEST(H264Test, OnlySpsHeadersWithNalRefIdcOneOrThreeAreFound) {
    Sps sps;
    sps.nalHeader = 0x27;
    EXPECT_EQ(Analysed(sps)[0], "   Profile = High");
    sps.nalHeader = 0x47;
    Outcome run = Analyse(AccessUnitDelimiter + sps.bytes());
    EXPECT_FALSE(Contains(run.lines, "Profile = High")) << run.lines.front();
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);

    // No SPS at all: the fields are decoded from the bytes at the search limit.
    run = Analyse(Bytes(64, 0xFF), 0, 1);
    EXPECT_EQ(run.lines.front(), "   Profile = Unknown");
    EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);
}

TEST(H264Test, SpsCutByTheBlockEndStopsBeforeTheFirstIncompleteLine) {
    Bytes whole = AccessUnitDelimiter + Sps{}.bytes();
    for (size_t keep = 0; keep <= whole.size(); ++keep) {
        Bytes head(whole.begin(), whole.begin() + keep);
        Outcome run = Analyse(head, BlockSize - int64_t(keep), 0, 2000);
        Lines full = Analysed(Sps{});
        ASSERT_LE(run.lines.size(), full.size()) << keep;
        // Whatever is written agrees with the whole SPS.
        for (size_t i = 0; i < run.lines.size(); ++i)
            EXPECT_EQ(run.lines[i], full[i]) << keep;
        EXPECT_DOUBLE_EQ(run.slotFrameRate, 24000.0 / 1001.0);
    }
    Outcome cut = Analyse(Bytes(whole.begin(), whole.end() - 3), BlockSize - int64_t(whole.size()) + 3);
    EXPECT_EQ(cut.lines, (Lines{"   Profile = High", "   Level = 4.0",
                                "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 8, 8 bit"}));
}

TEST(H264Test, FieldsPastThePayloadEndAreReadFromTheBlock) {
    // The payload ends right after the start code; the SPS bytes follow in the block.
    Bytes whole = AccessUnitDelimiter + Sps{}.bytes();
    EXPECT_EQ(Analyse(whole, 0, 0, int32_t(AccessUnitDelimiter.size()) + 6).lines, Analysed(Sps{}));
}

TEST(H264Test, HugeCountsEndAtTheBlockEnd) {
    Sps sps;
    sps.pic_order_cnt_type = 1;
    sps.offset_for_ref_frame = {1, 2};
    sps.num_ref_frames_in_pic_order_cnt_cycle = 0x7FFFFFFF;
    Outcome run = Analyse(AccessUnitDelimiter + sps.bytes(), BlockSize - 200);
    EXPECT_EQ(run.lines, (Lines{"   Profile = High", "   Level = 4.0",
                                "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 8, 8 bit"}));
}

// ffprobe as the oracle for real encoder output.

std::string StripMarkup(std::string text) {
    for (const char* tag : {"[bl]", "[/bl]"})
        for (size_t at; (at = text.find(tag)) != std::string::npos;)
            text.erase(at, std::string(tag).size());
    return text;
}

class H264FfprobeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tools::haveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        if (tools::run("ffmpeg -v error -hide_banner -h encoder=libx264 | grep -q libx264") != 0)
            GTEST_SKIP() << "ffmpeg has no libx264";
    }

    // Encodes two pictures of a test pattern and checks the analyser's lines against ffprobe.
    // With profileOnly, only the profile and level lines are compared.
    void ExpectAgreement(const std::string& source, const std::string& options, const std::string& x264 = "",
                         bool profileOnly = false) {
        const std::string video = dir_.file("x.h264");
        const std::string json = tools::encodeAndProbe("-f lavfi -i " + source + " -frames 2 -c:v libx264 " + options +
                                                           " -x264-params aud=1" + x264 + " -f h264",
                                                       video);
        ASSERT_FALSE(json.empty()) << "ffmpeg or ffprobe failed on " << source << " " << options;
        const Bytes payload = tools::readHead(video, 2016);
        Lines lines = Analyse(payload, 14).lines;
        std::string all;
        for (const auto& line : lines)
            all += line + "\n";
        SCOPED_TRACE(all + json);

        std::string profile = tools::jsonField(json, "profile");
        if (profile == "Constrained Baseline")
            profile = "Baseline ";
        EXPECT_EQ(lines.at(0), "   Profile = " + profile);
        int level = std::stoi(tools::jsonField(json, "level"));
        EXPECT_EQ(lines.at(1), "   Level = " + std::to_string(level / 10) + "." + std::to_string(level % 10));
        if (profileOnly)
            return;
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            SizeLine(std::stoi(tools::jsonField(json, "width")), std::stoi(tools::jsonField(json, "height")))),
                  lines.end());

        auto aspect = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.rfind("   Aspect ratio = ", 0) == 0; });
        ASSERT_NE(aspect, lines.end());
        std::string sar = StripMarkup(aspect->substr(18));
        EXPECT_EQ(sar.substr(0, sar.find(' ')), tools::jsonField(json, "sample_aspect_ratio"));

        // x264 ticks in fields: time_scale / num_units_in_tick is twice the frame rate, and the
        // line shows it unhalved. Emulation prevention bytes in the SPS are taken out first.
        const double fps = tools::ratioValue(tools::jsonField(json, "r_frame_rate"));
        EXPECT_EQ(lines.back(), "   Frame rate = " + Thousandths(2 * fps) + " fps");
        // The frames a second the report hands on are ffprobe's.
        EXPECT_DOUBLE_EQ(Analyse(payload, 14).streamFrameRate, fps);
        ++ratesCompared;
    }

    const tools::TempDir dir_{"halyard-h264"};
    int ratesCompared = 0;
};

TEST_F(H264FfprobeTest, High1080p23976AgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=1920x1080:rate=24000/1001",
                    "-preset veryfast -pix_fmt yuv420p -vf setsar=1 -profile:v high -level 4.0");
    EXPECT_EQ(ratesCompared, 1);
}

TEST_F(H264FfprobeTest, MainCropped720pAgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=1280x720:rate=50",
                    "-preset veryfast -pix_fmt yuv420p -vf crop=1280:714,setsar=40/33 -profile:v main -level 3.1");
}

TEST_F(H264FfprobeTest, BaselineWithPictureOrderCountType2AgreesWithFfprobe) {
    // x264 codes progressive streams without B-frames with pic_order_cnt_type 2, which
    // carries no further picture order fields.
    ExpectAgreement("testsrc=size=1920x1080:rate=25",
                    "-preset ultrafast -pix_fmt yuv420p -vf setsar=4/3 -profile:v baseline -level 4.1");
}

TEST(H264Test, EmulationPreventionBytesAreTakenOut) {
    // num_units_in_tick 1 and time_scale 50 code as 00 00 00 01 00 00 00 32: an encoder
    // writes 00 00 03 00 01 00 00 03 00 32, and the fields must still read 1 and 50.
    Sps sps;
    sps.vui = true;
    sps.timing = std::make_pair(1u, 50u);
    const Bytes bytes = sps.bytes();
    Bytes escaped(bytes.begin(), bytes.begin() + 5); // start code and NAL header stay as they are
    int zeros = 0;
    for (size_t i = 5; i < bytes.size(); ++i) {
        const uint8_t byte = bytes[i];
        if (zeros >= 2 && byte <= 3) {
            escaped.push_back(3);
            zeros = 0;
        }
        escaped.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    ASSERT_GT(escaped.size(), bytes.size());
    const Outcome outcome = Analyse(AccessUnitDelimiter + escaped);
    const Lines& lines = outcome.lines;
    EXPECT_EQ(lines.back(), "   Frame rate = 50 fps");
    // The log keeps the coded ticks; the stream's frames a second are half of them, and
    // the frame report still assumes 24000/1001.
    EXPECT_DOUBLE_EQ(outcome.streamFrameRate, 25.0);
    EXPECT_DOUBLE_EQ(outcome.slotFrameRate, 24000.0 / 1001.0);
    Sps withoutTiming;
    withoutTiming.vui = true;
    EXPECT_EQ(Analyse(AccessUnitDelimiter + withoutTiming.bytes()).streamFrameRate, 0.0);
    EXPECT_EQ(lines[lines.size() - 3], SizeLine(1920, 1080));
}

TEST_F(H264FfprobeTest, InterlacedAgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=1920x1080:rate=30000/1001",
                    "-preset veryfast -pix_fmt yuv420p -vf setsar=1 -flags +ildct", ":tff=1");
}

TEST_F(H264FfprobeTest, High422TenBitAgreesWithFfprobe) {
    ExpectAgreement("testsrc=size=720x576:rate=25", "-preset veryfast -pix_fmt yuv422p10le -vf setsar=16/15");
}

} // namespace
} // namespace halyard
