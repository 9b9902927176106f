// Rebuilt files as ffprobe and ffmpeg see them: only the kept streams, with their new ids,
// decoding without errors.
#include "EngineFixture.h"

#include <set>

#include "jobs/Jobs.h"
#include "rebuild/Rebuild.h"

namespace halyard::test {
namespace {

class RebuildFfmpeg : public ::testing::Test {
protected:
    void SetUp() override {
        if (!psb::tools::haveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        InstallRebuildJob(jobs, *state, ui);
    }

    void read(const std::string& path) {
        ui.eEVOfile = path;
        jobs.EVOadj();
        jobs.bReadEVOClick();
    }

    // What ffmpeg reports while decoding every video and audio stream; empty when all is well.
    static std::string decodeErrors(const std::string& path) {
        return psb::tools::capture("ffmpeg -nostdin -v error -f mpeg -i " + psb::tools::shellQuote(path) +
                                   " -map 0:v -map 0:a -f null - 2>&1");
    }

    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs{*state, ui};
    TempDir dir;
};

TEST_F(RebuildFfmpeg, SecondOfTwoAc3StreamsComesOutAs0x80) {
    const std::string evo = dir.file("VTS_01_1.EVO");
    ASSERT_EQ(psb::tools::run(psb::tools::ffmpegCommand(
                  "-f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=frequency=440:sample_rate=48000 "
                  "-f lavfi -i sine=frequency=880:sample_rate=48000 -map 0:v -map 1:a -map 2:a -c:a ac3 -ac:a:1 6 "
                  "-t 3 -c:v mpeg2video -b:v 3M -f dvd " + evo)),
              0);
    read(evo);
    ui.cbAudio[0].ticked = false;
    jobs.bRebuildClick();
    const std::string out = dir.file("VTS_01_1.rebuilt.EVO");
    const auto streams = psb::tools::probeStreams(out, "-f mpeg");
    ASSERT_EQ(streams.count("0x80"), 1u);
    EXPECT_EQ(streams.at("0x80").at("channels"), "6");
    EXPECT_EQ(streams.count("0x1e0"), 1u);
    EXPECT_EQ(streams.size(), 2u + streams.count("0x1bf")); // and the navigation packets
    EXPECT_EQ(decodeErrors(evo), "");
    EXPECT_EQ(decodeErrors(out), "");
}

// The demo disc joined; without its VC-1 stream (which ffmpeg decodes with errors in the
// source too), Dolby Digital and DTS: the other streams keep their codecs, renumbered.
TEST_F(RebuildFfmpeg, DemoFeatureFilesJoinedKeepTheTickedStreamsAndDecode) {
    ASSERT_EQ(psb::tools::run(std::string(HALYARD_DEMO_GENERATOR_PATH) + " " + dir.file("disc") + " >/dev/null"), 0);
    read(dir.file("disc/HVDVD_TS/FEATURE_1.EVO"));
    ASSERT_EQ(state->Catalogue.VideoType[1], 0x56);
    ASSERT_EQ(state->Catalogue.AudioType[0], 0x80);
    ASSERT_EQ(state->Catalogue.AudioType[2], 0x8A);
    ui.cbVideo[1].ticked = ui.cbAudio[0].ticked = ui.cbAudio[2].ticked = false;
    jobs.bRebuildClick();
    const std::string out = dir.file("disc/HVDVD_TS/FEATURE_1_FEATURE_2.rebuilt.EVO");

    std::map<std::string, std::string> ids; // codec -> id
    for (const auto& [id, entries] : psb::tools::probeStreams(out, "-f mpeg"))
        ids[entries.at("codec_name")] = id;
    EXPECT_EQ(ids.size(), 7u);
    EXPECT_EQ(ids["mpeg2video"], "0x1e0");
    EXPECT_EQ(ids["h264"], "0x1e3"); // the H.264 stream of the first file, in no slot after the read: kept
    EXPECT_EQ(ids["dvd_subtitle"], "0x20");
    std::set<int> audioNumbers;
    for (const char* codec : {"eac3", "truehd", "pcm_dvd"})
        audioNumbers.insert(std::stoi(ids[codec], nullptr, 16) & 0x0F);
    EXPECT_EQ(audioNumbers, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(decodeErrors(dir.file("disc/HVDVD_TS/FEATURE_1.EVO")), "");
    EXPECT_EQ(decodeErrors(out), "");
}

} // namespace
} // namespace halyard::test
