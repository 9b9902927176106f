// halyard-cli demux against ffmpeg's own extraction of VOBs that ffmpeg made.
#include "EngineFixture.h"

#include <cstdlib>

namespace halyard::test {
namespace {

bool HaveFfmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

void Shell(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

const char* const VideoInput = "-f lavfi -i testsrc=size=720x480:rate=30000/1001 ";
const std::string Ffmpeg = "ffmpeg -v error -y ";

// Makes a VOB with ffmpeg's DVD muxer, demuxes it with halyard-cli into dir.
std::string MakeAndDemux(const TempDir& dir, const std::string& audioInputsAndCodecs) {
    const std::string vob = dir.file("VTS_01_1.VOB");
    Shell(Ffmpeg + VideoInput + audioInputsAndCodecs + " -t 3 -c:v mpeg2video -b:v 3M -f dvd " + vob);
    Shell(std::string(HALYARD_CLI_PATH) + " demux --output " + dir.file("") + " " + vob);
    return vob;
}

TEST(FfmpegCompare, Mpeg2VideoAndTwoAc3StreamsMatchFfmpegsExtraction) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const std::string vob = MakeAndDemux(
        dir, "-f lavfi -i sine=frequency=440:sample_rate=48000 -f lavfi -i sine=frequency=880:sample_rate=48000 "
             "-map 0:v -map 1:a -map 2:a -c:a ac3 -b:a:0 192k -b:a:1 448k -ac:a:1 6");
    Shell(Ffmpeg + "-i " + vob + " -map 0:v -c copy -f mpeg2video " + dir.file("v.m2v") + " -map 0:a:0 -c copy -f ac3 " +
        dir.file("a0.ac3") + " -map 0:a:1 -c copy -f ac3 " + dir.file("a1.ac3"));
    const auto video = ReadAll(dir.file("VTS_01_1.MPEG-2.stream.0.mpv"));
    ASSERT_GT(video.size(), 10000u);
    EXPECT_TRUE(video == ReadAll(dir.file("v.m2v")));
    EXPECT_TRUE(ReadAll(dir.file("VTS_01_1.DD.stream.00.mpa")) == ReadAll(dir.file("a0.ac3")));
    EXPECT_TRUE(ReadAll(dir.file("VTS_01_1.DD.stream.01.mpa")) == ReadAll(dir.file("a1.ac3")));
}

TEST(FfmpegCompare, DtsMatchesFfmpegsExtraction) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const std::string vob =
        MakeAndDemux(dir, "-f lavfi -i sine=frequency=440:sample_rate=48000 -map 0:v -map 1:a -c:a dca -strict -2");
    Shell(Ffmpeg + "-i " + vob + " -map 0:a:0 -c copy -f dts " + dir.file("a.dts"));
    const auto dts = ReadAll(dir.file("VTS_01_1.DTSHD.stream.00.mpa"));
    ASSERT_GT(dts.size(), 1000u);
    EXPECT_TRUE(dts == ReadAll(dir.file("a.dts")));
}

TEST(FfmpegCompare, LpcmSamplesMatchFfmpegsDecoding) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const std::string vob = MakeAndDemux(
        dir, "-f lavfi -i sine=frequency=440:sample_rate=48000 -map 0:v -map 1:a -c:a pcm_dvd -ac 2");
    // 16-bit LPCM is big-endian interleaved samples: the same bytes ffmpeg decodes to s16be.
    Shell(Ffmpeg + "-i " + vob + " -map 0:a:0 -f s16be " + dir.file("a.pcm"));
    const auto lpcm = ReadAll(dir.file("VTS_01_1.LPCM.stream.00.mpa"));
    ASSERT_GT(lpcm.size(), 100000u);
    EXPECT_TRUE(lpcm == ReadAll(dir.file("a.pcm")));
}

} // namespace
} // namespace halyard::test

namespace halyard::test {
namespace {

TEST(FfmpegCompare, DemoFeatureFilesGoIntoOneOutputPerStream) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    Shell(std::string(HALYARD_DEMO_GENERATOR_PATH) + " " + dir.file("disc"));
    const std::string first = dir.file("disc/HVDVD_TS/FEATURE_1.EVO");
    const std::string second = dir.file("disc/HVDVD_TS/FEATURE_2.EVO");
    fs::create_directories(dir.file("out"));
    Shell(std::string(HALYARD_CLI_PATH) + " demux --output " + dir.file("out") + " " + first);

    // ffmpeg's extraction of each file, by stream id, one file after the other.
    auto extracted = [&](const std::string& id, const std::string& format) {
        psb::Bytes both;
        for (const std::string& source : {first, second}) {
            const std::string out = dir.file("ffmpeg." + format);
            Shell(Ffmpeg + "-f mpeg -i " + source + " -map 0:i:" + id + " -c copy -f " + format + " " + out);
            both = Cat({both, ReadAll(out)});
        }
        return both;
    };
    const std::string prefix = dir.file("out/FEATURE_1_FEATURE_2.");
    const auto video = ReadAll(prefix + "MPEG-2.stream.0.mpv");
    ASSERT_GT(video.size(), 100000u);
    EXPECT_TRUE(video == extracted("0x1e0", "mpeg2video"));
    EXPECT_TRUE(ReadAll(prefix + "DD.stream.00.mpa") == extracted("0x80", "ac3"));
    EXPECT_TRUE(ReadAll(prefix + "DTSHD.stream.02.mpa") == extracted("0x8a", "dts"));
}

} // namespace
} // namespace halyard::test
