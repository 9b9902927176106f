// Counted pictures against ffprobe's count of the same streams, muxed by the builder.
#include "EngineFixture.h"

#include "EsFrames.h"

namespace halyard::test {
namespace {

using psb::tools::capture;
using psb::tools::shellQuote;

constexpr uint64_t FrameTicks = 3600; // 25 fps

psb::Bytes Encode(const TempDir& dir, const std::string& name, const std::string& options) {
    const std::string path = dir.file(name);
    int status = psb::tools::run("ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -frames 47 " + options +
                                 " " + shellQuote(path));
    EXPECT_EQ(status, 0) << options;
    return psb::readFile(path);
}

int FfprobeFrameCount(const std::string& path) {
    std::string count = capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames -of csv=p=0 " + shellQuote(path));
    return std::stoi(count);
}

TEST(PictureCount, Mpeg2AndH264CountsEqualFfprobesAndDemuxGivesTheStreamsBack) {
    if (!psb::tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const psb::Bytes mpeg2 = Encode(dir, "v.m2v", "-c:v mpeg2video -bf 2 -g 12 -f mpeg2video");
    const psb::Bytes h264 = Encode(dir, "v.h264", "-c:v libx264 -preset ultrafast -x264-params aud=1 -f h264");
    ASSERT_FALSE(mpeg2.empty());
    ASSERT_FALSE(h264.empty());

    const auto streams = std::vector<psb::ElementaryStream>{
        psb::ElementaryStream::video(0xE0, psb::es::splitMpeg2Video(mpeg2, 90000, FrameTicks)),
        psb::ElementaryStream::video(0xE3, psb::es::splitH264(h264, 90000, FrameTicks))};
    const psb::Bytes evo = psb::muxProgramStream(streams);

    EngineRun run;
    run.read(evo, "x.EVO");
    EXPECT_EQ(run.state->PictureCounter[0], FfprobeFrameCount(dir.file("v.m2v")));
    EXPECT_EQ(run.state->PictureCounter[1], FfprobeFrameCount(dir.file("v.h264")));
    run.tickFound();
    run.write(evo, "x.EVO");
    EXPECT_TRUE(run.output("video0") == mpeg2);
    EXPECT_TRUE(run.output("video1") == h264);
}

} // namespace
} // namespace halyard::test
