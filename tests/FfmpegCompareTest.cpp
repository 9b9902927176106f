// halyard-cli demux against ffmpeg's own extraction of VOBs that ffmpeg made.
#include "EngineFixture.h"

namespace halyard::test {
namespace {

void Shell(const std::string& command) {
    ASSERT_EQ(psb::tools::run(command + " >/dev/null 2>&1"), 0) << command;
}

void Ffmpeg(const std::string& arguments) { Shell(psb::tools::ffmpegCommand(arguments)); }

const char* const VideoInput = "-f lavfi -i testsrc=size=720x480:rate=30000/1001 ";

class FfmpegCompare : public ::testing::Test {
protected:
    void SetUp() override {
        if (!psb::tools::haveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }

    // Makes a VOB with ffmpeg's DVD muxer, demuxes it with halyard-cli into dir.
    std::string MakeAndDemux(const std::string& audioInputsAndCodecs) {
        const std::string vob = dir.file("VTS_01_1.VOB");
        Ffmpeg(VideoInput + audioInputsAndCodecs + " -t 3 -c:v mpeg2video -b:v 3M -f dvd " + vob);
        Shell(std::string(HALYARD_CLI_PATH) + " demux --output " + dir.file("") + " " + vob);
        return vob;
    }

    // One tone coded with `audioCodec` beside the video: halyard-cli's file `ours`
    // (at least `atLeast` bytes) holds what ffmpeg writes with `ffmpegOutput`.
    void ExpectSameAudio(const std::string& audioCodec, const std::string& ffmpegOutput, const std::string& ours,
                         size_t atLeast) {
        const std::string vob =
            MakeAndDemux("-f lavfi -i sine=frequency=440:sample_rate=48000 -map 0:v -map 1:a -c:a " + audioCodec);
        Ffmpeg("-i " + vob + " -map 0:a:0 " + ffmpegOutput + " " + dir.file("ffmpeg.out"));
        const auto audio = ReadAll(dir.file(ours));
        ASSERT_GT(audio.size(), atLeast) << ours;
        EXPECT_TRUE(audio == ReadAll(dir.file("ffmpeg.out"))) << ours;
    }

    TempDir dir;
};

TEST_F(FfmpegCompare, Mpeg2VideoAndTwoAc3StreamsMatchFfmpegsExtraction) {
    const std::string vob = MakeAndDemux(
        "-f lavfi -i sine=frequency=440:sample_rate=48000 -f lavfi -i sine=frequency=880:sample_rate=48000 "
        "-map 0:v -map 1:a -map 2:a -c:a ac3 -b:a:0 192k -b:a:1 448k -ac:a:1 6");
    Ffmpeg("-i " + vob + " -map 0:v -c copy -f mpeg2video " + dir.file("v.m2v") + " -map 0:a:0 -c copy -f ac3 " +
           dir.file("a0.ac3") + " -map 0:a:1 -c copy -f ac3 " + dir.file("a1.ac3"));
    const auto video = ReadAll(dir.file("VTS_01_1.MPEG-2.stream.0.mpv"));
    ASSERT_GT(video.size(), 10000u);
    EXPECT_TRUE(video == ReadAll(dir.file("v.m2v")));
    EXPECT_TRUE(ReadAll(dir.file("VTS_01_1.DD.stream.00.mpa")) == ReadAll(dir.file("a0.ac3")));
    EXPECT_TRUE(ReadAll(dir.file("VTS_01_1.DD.stream.01.mpa")) == ReadAll(dir.file("a1.ac3")));
}

TEST_F(FfmpegCompare, DtsMatchesFfmpegsExtraction) {
    ExpectSameAudio("dca -strict -2", "-c copy -f dts", "VTS_01_1.DTSHD.stream.00.mpa", 1000);
}

TEST_F(FfmpegCompare, LpcmSamplesMatchFfmpegsDecoding) {
    // 16-bit LPCM is big-endian interleaved samples: the same bytes ffmpeg decodes to s16be.
    ExpectSameAudio("pcm_dvd -ac 2", "-f s16be", "VTS_01_1.LPCM.stream.00.mpa", 100000);
}

TEST_F(FfmpegCompare, DemoFeatureFilesGoIntoOneOutputPerStream) {
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
            Ffmpeg("-f mpeg -i " + source + " -map 0:i:" + id + " -c copy -f " + format + " " + out);
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
