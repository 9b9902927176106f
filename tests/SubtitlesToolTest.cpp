// PGS subtitles against tools we did not write: ffmpeg's own decoders render the source's
// subpictures and our PGS files onto the same canvas, frame by frame; ffprobe lists the
// display sets; mkvmerge muxes them with the playlist's language at the right time.
#include "EngineFixture.h"

#include <nlohmann/json.hpp>

#include "SubpictureBuilder.h"

namespace halyard::test {
namespace {

psb::MuxOptions VobMuxOptions(psb::NavLayout layout) {
    psb::MuxOptions options;
    options.navLayout = layout;
    return options;
}

namespace tools = psb::tools;
using Json = nlohmann::json;

constexpr uint64_t VideoStart = 90000 + 3600; // the first video frame, 1.04 s

int Quiet(const std::string& command) { return tools::run(command + " >/dev/null 2>&1"); }

std::string Cli(const std::string& arguments, int* status = nullptr) {
    return tools::capture(std::string(HALYARD_CLI_PATH) + " " + arguments + " 2>&1", status);
}

// Video packets of no real picture: the engine only needs their time stamps.
std::vector<psb::AccessUnit> FakeVideo(int frames) {
    std::vector<psb::AccessUnit> units;
    for (int k = 0; k < frames; ++k) {
        psb::AccessUnit unit;
        unit.data = Filled(3000, uint8_t(k));
        unit.pts = VideoStart + uint64_t(k) * 3600;
        unit.keyframe = k % 12 == 0;
        unit.duration = 3600;
        units.push_back(unit);
    }
    return units;
}

psb::AccessUnit Caption(psb::Bytes unit, uint64_t pts) {
    psb::AccessUnit a;
    a.data = std::move(unit);
    a.pts = pts;
    a.duration = 90000;
    return a;
}

// The frames of a canvas with the subtitles of `input` laid over it, as rgb24.
psb::Bytes Rendered(const std::string& inputArguments, int width, int height, const TempDir& dir, const std::string& name) {
    const std::string out = dir.file(name + ".rgb");
    const std::string canvas = "color=c=black:s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=25:d=7";
    const std::string command = tools::ffmpegCommand("-copyts -f lavfi -i " + canvas + " " + inputArguments +
                                                     " -filter_complex '[0:v][1:s:0]overlay=format=rgb,format=rgb24'"
                                                     " -f rawvideo " + out);
    EXPECT_EQ(Quiet(command), 0) << command;
    return ReadAll(out);
}

// Frame by frame within YCbCr rounding; returns the number of frames with a caption.
int ExpectSameFrames(const psb::Bytes& reference, const psb::Bytes& ours, size_t frameSize) {
    EXPECT_EQ(reference.size(), ours.size());
    int shown = 0;
    for (size_t frame = 0; frame * frameSize < std::min(reference.size(), ours.size()); ++frame) {
        int worst = 0;
        bool any = false;
        for (size_t i = frame * frameSize; i < (frame + 1) * frameSize; ++i) {
            worst = std::max(worst, std::abs(int(reference[i]) - int(ours[i])));
            any = any || reference[i] > 8;
        }
        EXPECT_LE(worst, 6) << "frame " << frame;
        shown += any;
    }
    return shown;
}

class SubtitleTools : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tools::haveFfmpeg() || !tools::haveProgram("mkvmerge"))
            GTEST_SKIP() << "ffmpeg, ffprobe and mkvmerge are needed";
    }
    TempDir dir;
};

TEST_F(SubtitleTools, DvdSubpicturesOfAVobRenderAsFfmpegRendersThemWithTheIfoPalette) {
    std::array<psb::YCrCb, 16> colours;
    for (size_t i = 0; i < 16; ++i)
        colours[i] = {uint8_t(30 + 13 * i), uint8_t(70 + 9 * i), uint8_t(200 - 8 * i)};
    psb::writeFile(dir.file("VTS_01_0.IFO"), psb::dvdIfo(colours));
    std::vector<psb::AccessUnit> captions;
    for (int k = 0; k < 4; ++k)
        captions.push_back(Caption(psb::SubpictureUnit()
                                       .bitmap(psb::Bitmap::testPattern(200 + 40 * k, 30 + 3 * k))
                                       .position(100 + 10 * k, 380)
                                       .colors(uint8_t(3 + k), uint8_t(9 - k), uint8_t(12 + k % 3), 0)
                                       .contrast(15, 11, 15, 0)
                                       .duration(90000)
                                       .forced(k == 2)
                                       .build(),
                                   VideoStart + 45000 + uint64_t(k) * 135000));
    const std::string vob = dir.file("VTS_01_1.VOB");
    psb::writeFile(vob, psb::muxProgramStream({psb::ElementaryStream::video(0xE0, FakeVideo(150)),
                                               psb::ElementaryStream::subpicture(0x20, captions)},
                                              VobMuxOptions(psb::NavLayout::Vob)));
    int status = 0;
    const std::string log = Cli("demux --pgs --output " + dir.path().string() + " " + vob, &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_NE(log.find("Palette of the subpictures from " + dir.file("VTS_01_0.IFO")), std::string::npos) << log;
    const std::string pgs = dir.file("VTS_01_1.Subpicture.00.pgs.sup");
    ASSERT_TRUE(fs::exists(pgs)) << log;
    EXPECT_TRUE(fs::exists(dir.file("VTS_01_1.Subpicture.00.forced.pgs.sup")));

    // ffmpeg renders the subpictures of the VOB itself early (its other streams drive
    // the subtitle frames), so they are first copied into a file of their own.
    ASSERT_EQ(Quiet(tools::ffmpegCommand("-copyts -i " + vob + " -map 0:s:0 -c copy " + dir.file("ref.mkv"))), 0);
    const std::string offset = std::to_string(-double(VideoStart) / 90000);
    const psb::Bytes reference = Rendered("-itsoffset " + offset + " -ifo_palette " + dir.file("VTS_01_0.IFO") +
                                              " -i " + dir.file("ref.mkv"), 720, 480, dir, "reference");
    const psb::Bytes ours = Rendered("-f sup -i " + pgs, 720, 480, dir, "ours");
    ASSERT_GT(reference.size(), 0u);
    const int shown = ExpectSameFrames(reference, ours, 720 * 480 * 3);
    EXPECT_GE(shown, 4 * 25 - 4); // four captions of a second each

    // ffprobe: one show and one clear per caption, at their times against the first video frame.
    const std::string frames = tools::capture("ffprobe -v error -f sup -show_entries subtitle=pts,num_rects -of csv=p=0 " + pgs);
    std::string expected;
    for (int k = 0; k < 4; ++k)
        expected += std::to_string(500000 + k * 1500000) + ",1\n" + std::to_string(500000 + k * 1500000 + 1001244) + ",0\n";
    EXPECT_EQ(frames, expected);
}

TEST_F(SubtitleTools, HdDvdUnitsRenderAsFfmpegRendersThemInColoursOfBt709) {
    // ffmpeg reads HD DVD units through its DVD subtitle decoder when they come as
    // substream 0x20; its PGS decoder reads the colours of a 1080-line canvas as BT.709.
    std::vector<psb::AccessUnit> captions;
    for (int k = 0; k < 2; ++k) {
        psb::HdSubpictureUnit unit;
        unit.bitmap(psb::Bitmap8::testPattern(300 + 100 * k, 60)).position(40 + 20 * k, 30).forced(true);
        unit.colour(200, {180, 200, 60}, 255).colour(11, {60, 90, 220}, 160).duration(45000);
        // Starts and ends between the frames of a 5 fps canvas: 0.25 to 0.75 s, 1.35 to 1.85 s.
        captions.push_back(Caption(unit.build(), VideoStart + 22500 + uint64_t(k) * 99000));
    }
    const std::string evo = dir.file("HD.EVO");
    psb::writeFile(evo, psb::muxProgramStream({psb::ElementaryStream::video(0xE0, FakeVideo(60)),
                                               psb::ElementaryStream::subpicture(0x20, captions)},
                                              VobMuxOptions(psb::NavLayout::Evo)));
    int status = 0;
    const std::string log = Cli("demux --pgs --output " + dir.path().string() + " " + evo, &status);
    ASSERT_EQ(status, 0) << log;
    const std::string pgs = dir.file("HD.Subpicture.00.pgs.sup");
    // Every caption forced: no file of forced captions beside it.
    EXPECT_FALSE(fs::exists(dir.file("HD.Subpicture.00.forced.pgs.sup")));

    ASSERT_EQ(Quiet(tools::ffmpegCommand("-copyts -f mpeg -i " + evo + " -map 0:s:0 -c copy " + dir.file("ref.mkv"))), 0);
    const std::string offset = std::to_string(-double(VideoStart) / 90000);
    auto render = [&](const std::string& input, const std::string& name) {
        const std::string out = dir.file(name + ".rgb");
        EXPECT_EQ(Quiet(tools::ffmpegCommand("-copyts -f lavfi -i color=c=black:s=1920x1080:r=5:d=3 " + input +
                                             " -filter_complex '[0:v][1:s:0]overlay=format=rgb,format=rgb24' -f rawvideo " + out)),
                  0);
        return ReadAll(out);
    };
    const psb::Bytes reference = render("-itsoffset " + offset + " -i " + dir.file("ref.mkv"), "reference");
    const psb::Bytes ours = render("-f sup -i " + pgs, "ours");
    EXPECT_EQ(ExpectSameFrames(reference, ours, 1920 * 1080 * 3), 2 + 3); // frames 0.4, 0.6 and 1.4, 1.6, 1.8
}

TEST_F(SubtitleTools, CaptionsOfASecondFeatureFileWhoseTimeStampsRestartFollowTheFirstFilesEnd) {
    // FEATURE_1 plays from 1.04 s to 3.04 s; FEATURE_2's time stamps start again at 0.5 s.
    // Its caption 0.1 s in belongs 0.1 s after FEATURE_1's end: 2.1 s into the video.
    constexpr uint64_t SecondStart = 45000;
    constexpr uint64_t Frames = 50;
    auto feature = [&](int number, uint64_t start, uint64_t caption) {
        std::vector<psb::AccessUnit> video = FakeVideo(int(Frames));
        for (psb::AccessUnit& unit : video)
            *unit.pts = *unit.pts - VideoStart + start;
        const psb::Bytes unit = psb::SubpictureUnit()
                                    .bitmap(psb::Bitmap::testPattern(200, 30))
                                    .position(100, 380)
                                    .duration(90000)
                                    .build();
        psb::MuxOptions options = VobMuxOptions(psb::NavLayout::HdDvd);
        options.vobNumber = uint16_t(number);
        options.startPtm = uint32_t(start);
        options.endPtm = uint32_t(start + Frames * 3600);
        psb::writeFile(dir.file("FEATURE_" + std::to_string(number) + ".EVO"),
                       psb::muxProgramStream({psb::ElementaryStream::video(0xE0, video),
                                              psb::ElementaryStream::subpicture(0x20, {Caption(unit, start + caption)})},
                                             options));
    };
    feature(1, VideoStart, 45000);
    feature(2, SecondStart, 9000);
    fs::create_directories(dir.file("out"));
    int status = 0;
    const std::string out = tools::capture(std::string(HALYARD_CLI_PATH) + " demux --json --pgs --output " +
                                               dir.file("out") + " " + dir.file("FEATURE_1.EVO") + " 2>" +
                                               dir.file("err.txt"),
                                           &status);
    ASSERT_EQ(status, 0) << tools::readText(dir.file("err.txt"));
    const Json doc = Json::parse(out);
    ASSERT_EQ(doc["sources"].size(), 2u);
    EXPECT_EQ(doc["sources"][0]["last_ptm"], VideoStart + Frames * 3600);
    EXPECT_EQ(doc["sources"][1]["first_ptm"], SecondStart);

    // One show and one clear for each caption; a stop of 1 s is 88 steps of 1024 ticks.
    const std::string pgs = dir.file("out/FEATURE_1_FEATURE_2.Subpicture.00.pgs.sup");
    const std::string frames = tools::capture("ffprobe -v error -f sup -show_entries subtitle=pts,num_rects -of csv=p=0 " + pgs);
    EXPECT_EQ(frames, "500000,1\n1501244,0\n2100000,1\n3101244,0\n");
}

TEST_F(SubtitleTools, MkvmergeMuxesThePgsTrackWithThePlaylistsLanguageAtItsTimeAgainstTheVideo) {
    ASSERT_EQ(Quiet(std::string(HALYARD_DEMO_GENERATOR_PATH) + " " + dir.file("disc")), 0);
    fs::create_directories(dir.file("out"));
    int status = 0;
    const std::string out = tools::capture(std::string(HALYARD_CLI_PATH) + " demux --json --pgs --mkvmerge --output " +
                                               dir.file("out") + " " + dir.file("disc/HVDVD_TS/FEATURE_1.EVO") + " 2>" +
                                               dir.file("err.txt"),
                                           &status);
    ASSERT_EQ(status, 0) << tools::readText(dir.file("err.txt"));
    const Json doc = Json::parse(out);
    // The demo's feature starts at 1 s; its captions every 1.5 s from 1.5 s.
    EXPECT_EQ(doc["earliest_pts"], 90000);
    EXPECT_EQ(doc["streams"][0]["true_first_pts"], 90000);
    const Json& pgs = doc["outputs"].back();
    EXPECT_EQ(pgs["format"], "pgs");
    EXPECT_EQ(pgs["path"], dir.file("out/FEATURE_1_FEATURE_2.Subpicture.00.pgs.sup"));
    EXPECT_EQ(pgs["forced"], false);
    EXPECT_EQ(pgs["notes"][0].get<std::string>().find("No palette for the 2-bit subpictures"), 0u);
    // The .sup is no longer left out: only the two streams mkvmerge cannot take are.
    EXPECT_EQ(tools::readText(dir.file("err.txt")).find(".sup is left out"), std::string::npos);

    const std::string prefix = dir.file("out/FEATURE_1_FEATURE_2.");
    ASSERT_LE(Quiet("mkvmerge @" + prefix + "mkvmerge.json"), 1);
    const Json identified = Json::parse(tools::capture("mkvmerge -J " + prefix + "mkv"));
    const Json* subtitles = nullptr;
    for (const Json& track : identified["tracks"])
        if (track["type"] == "subtitles")
            subtitles = &track;
    ASSERT_TRUE(subtitles);
    EXPECT_EQ((*subtitles)["properties"]["codec_id"], "S_HDMV/PGS");
    EXPECT_EQ((*subtitles)["properties"]["language"], "eng");
    EXPECT_EQ((*subtitles)["properties"]["minimum_timestamp"], 500000000); // 1.5 s less the video's 1 s
}

}  // namespace
}  // namespace halyard::test
