// halyard-cli mkv: from a source to one Matroska file, checked with mkvmerge -J and
// ffprobe; mkvmerge's failures driven by a fake mkvmerge; batches and name clashes.
#include "DemoDiscFixture.h"

#include <csignal>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "EsFrames.h"

namespace halyard::test {
namespace {

namespace tools = psb::tools;
using tools::shellQuote;
using Json = nlohmann::json;

// Names in a folder, hidden ones too.
std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class MkvTrip : public DemoDiscTest {
protected:
    void SetUp() override {
        DemoDiscTest::SetUp();
        fs::create_directory(out());
    }
    static std::string feature1() { return feature(1); }
    fs::path out() const { return dir.path() / "out"; }

    // A stand-in for mkvmerge: a shell script with this body, named by the environment.
    std::string fake(const std::string& name, const std::string& body) const {
        const std::string path = dir.file(name);
        const std::string text = "#!/bin/sh\n" + body + "\n";
        psb::writeFile(path, psb::Bytes(text.begin(), text.end()));
        fs::permissions(path, fs::perms::owner_all);
        return "HALYARD_MKVMERGE=" + shellQuote(path);
    }
};

TEST_F(MkvTrip, TheDemoDiscBecomesOneMatroskaFileWithEveryTrackLanguageAndChapter) {
    // An earlier demux into the same folder: the trip must leave its files alone.
    ASSERT_EQ(Cli("demux --streams cbAudio00 --output " + shellQuote(out().string()) + " " + feature1(), dir).status, 0);
    const std::string earlier = (out() / "FEATURE_1_FEATURE_2.DD.stream.00.mpa").string();
    const psb::Bytes earlierBytes = ReadAll(earlier);

    const Ran mkv = Cli("mkv --json --output " + shellQuote(out().string()) + " " + feature1(), dir);
    ASSERT_EQ(mkv.status, 0) << mkv.err;
    const Json doc = Json::parse(mkv.out);
    const std::string path = (out() / "FEATURE_1_FEATURE_2.mkv").string();
    ASSERT_EQ(doc["outputs"].size(), 1u);
    EXPECT_EQ(doc["outputs"][0]["path"], path);
    // Only the .mkv is new: the run's own folder is gone, the earlier output unchanged.
    EXPECT_EQ(Listing(out()), (std::vector<std::string>{"FEATURE_1_FEATURE_2.DD.stream.00.mpa",
                                                        "FEATURE_1_FEATURE_2.mkv"}));
    EXPECT_EQ(ReadAll(earlier), earlierBytes);
    // Video slot 1 holds H.264 and then VC-1: left out, with one line.
    EXPECT_NE(mkv.err.find("VC-1.stream.1.mpv is left out"), std::string::npos) << mkv.err;

    const Json identified = Json::parse(tools::capture("mkvmerge -J " + shellQuote(path)));
    std::vector<int64_t> delays; // of the first file's audio, by slot
    for (const Json& stream : doc["streams"])
        if (stream["source"] == 0 && stream["kind"] == "audio")
            delays.push_back(stream["delay_ms"]);
    std::vector<std::string> tracks;
    size_t audio = 0;
    for (const Json& track : identified["tracks"]) {
        const Json& p = track["properties"];
        tracks.push_back(track["type"].get<std::string>() + " " + track["codec"].get<std::string>() + " " +
                         p.value("language", "") + " " + p.value("track_name", ""));
        // Each audio track starts where the JSON's delay puts it against the video.
        if (track["type"] == "audio" && audio < delays.size()) {
            EXPECT_NEAR(double(p["minimum_timestamp"]) / 1e6, double(delays[audio++]), 1.0) << tracks.back();
        }
    }
    EXPECT_EQ(tracks, (std::vector<std::string>{"video MPEG-1/2 und ", "audio AC-3 eng en", "audio E-AC-3 ger de",
                                                "audio DTS fre fr", "audio TrueHD eng en", "audio PCM jpn ja",
                                                "subtitles HDMV PGS eng en"}));
    EXPECT_EQ(identified["chapters"][0]["num_entries"], 2);

    // ffprobe agrees on the codecs and channels of the source's audio.
    const tools::ProbedStreams source = tools::probeStreams(feature1(), "-f mpeg");
    const Json muxed = Json::parse(tools::ffprobeJson(path));
    std::vector<std::string> probedAudio, muxedAudio;
    for (const char* id : {"0x80", "0xc1", "0x8a", "0xb3", "0xa4"}) {
        const std::string codec = source.at(id).at("codec_name");
        probedAudio.push_back((codec == "pcm_dvd" ? "pcm_s16le" : codec) + " " + source.at(id).at("channels"));
    }
    for (const Json& s : muxed["streams"])
        if (s["codec_type"] == "audio")
            muxedAudio.push_back(s["codec_name"].get<std::string>() + " " + std::to_string(int(s["channels"])));
    EXPECT_EQ(muxedAudio, probedAudio);
}

// MPEG-2 without B pictures carries a PTS alone on its first header, where the engine's
// logged first PTS is its latch, 0: the delays come from the true first PTS.
TEST_F(MkvTrip, DelaysFollowTheTrueFirstPtsOfVideoWithALonePts) {
    const std::string m2v = dir.file("v.m2v"), ac3 = dir.file("a.ac3");
    ASSERT_EQ(tools::run(tools::ffmpegCommand("-f lavfi -i testsrc=size=720x576:rate=25 -t 2 -c:v mpeg2video -bf 0 "
                                              "-g 12 -f mpeg2video " + shellQuote(m2v))),
              0);
    ASSERT_EQ(tools::run(tools::ffmpegCommand(tools::sineInput(48000, "2") + " -c:a ac3 -f ac3 " + shellQuote(ac3))), 0);
    const uint64_t videoStart = 90000, audioStart = videoStart + 27000; // 300 ms later
    std::vector<psb::AccessUnit> pictures = psb::es::splitMpeg2Video(ReadAll(m2v), videoStart, 3600);
    for (const psb::AccessUnit& picture : pictures)
        ASSERT_FALSE(picture.dts) << "a picture with a DTS of its own";
    const std::string vob = dir.file("LONE.VOB");
    psb::writeFile(vob, psb::muxProgramStream({psb::ElementaryStream::video(0xE0, pictures),
                                               psb::ElementaryStream::audio(0x80, psb::es::splitAc3(ReadAll(ac3), audioStart))}));

    const Ran read = Cli("read --json " + vob, dir);
    ASSERT_EQ(read.status, 0) << read.err;
    const Json doc = Json::parse(read.out);
    EXPECT_EQ(doc["streams"][0]["first_pts"], 0) << "the log's latch";
    EXPECT_EQ(doc["streams"][0]["true_first_pts"], videoStart);
    EXPECT_EQ(doc["streams"][1]["delay_ms"], 300);

    ASSERT_EQ(Cli("mkv --output " + shellQuote(out().string()) + " " + vob, dir).status, 0);
    const Json identified = Json::parse(tools::capture("mkvmerge -J " + shellQuote((out() / "LONE.mkv").string())));
    ASSERT_EQ(identified["tracks"].size(), 2u);
    const double video = identified["tracks"][0]["properties"]["minimum_timestamp"];
    const double audio = identified["tracks"][1]["properties"]["minimum_timestamp"];
    EXPECT_NEAR((audio - video) / 1e6, 300.0, 1.0);
}

TEST_F(MkvTrip, MkvmergesFailuresAreReportedAndCleanedUp) {
    const std::string arguments = "mkv --streams cbVideo0,cbAudio00 --output " + shellQuote(out().string()) + " " +
                                  feature1();
    const fs::path mkv = out() / "FEATURE_1_FEATURE_2.mkv";
    const fs::path kept = out() / ".FEATURE_1_FEATURE_2.halyard";

    // Missing: refused before anything is demuxed.
    const Ran missing = Cli(arguments, dir, "PATH=/nonexistent HALYARD_MKVMERGE=");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "mkvmerge was not found: install MKVToolNix, or set HALYARD_MKVMERGE\n");
    EXPECT_TRUE(fs::is_empty(out()));

    // Warnings (exit 1): a success, the warnings passed on.
    const Ran warned = Cli(arguments, dir, fake("warn", "echo '#GUI#warning Odd timestamps.'; exit 1"));
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_NE(warned.err.find("halyard-cli: mkvmerge: Odd timestamps."), std::string::npos) << warned.err;
    EXPECT_EQ(Listing(out()), std::vector<std::string>{mkv.filename().string()});
    fs::remove(mkv);

    // An error (exit 2), a crash: failures, with nothing left behind; with --keep the
    // demuxed files stay and are named.
    const std::string error = fake("error", "echo '#GUI#progress 50%'; echo '#GUI#error No space left.'; exit 2");
    const Ran failed = Cli(arguments, dir, error);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("mkvmerge failed: No space left.\n"), std::string::npos) << failed.err;
    EXPECT_TRUE(fs::is_empty(out()));
    const Ran crashed = Cli(arguments, dir, fake("crash", "kill -9 $$"));
    EXPECT_EQ(crashed.status, 1);
    EXPECT_NE(crashed.err.find("mkvmerge failed: it was ended by signal 9"), std::string::npos) << crashed.err;
    EXPECT_TRUE(fs::is_empty(out()));
    const Ran keep = Cli("mkv --keep" + arguments.substr(3), dir, error);
    EXPECT_EQ(keep.status, 1);
    EXPECT_NE(keep.err.find(". The demuxed files are kept in " + kept.string()), std::string::npos) << keep.err;
    EXPECT_TRUE(fs::exists(kept / "FEATURE_1_FEATURE_2.DD.stream.00.mpa"));
    EXPECT_FALSE(fs::exists(mkv));
    fs::remove_all(kept);
    fs::remove(out() / "FEATURE_1_FEATURE_2.mkvmerge.json");

    // Ctrl-C while mkvmerge runs: it is stopped, the partial file removed, exit 130.
    const std::string started = dir.file("started");
    const std::string sleeper = fake("sleep", "touch " + shellQuote(started) + "; exec sleep 30");
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("HALYARD_MKVMERGE", dir.file("sleep").c_str(), 1);
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
        ::execl(HALYARD_CLI_PATH, HALYARD_CLI_PATH, "mkv", "--streams", "cbVideo0,cbAudio00", "--output",
                out().c_str(), feature1().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int wait = 0; wait < 3000 && !fs::exists(started); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(fs::exists(started));
    const auto start = std::chrono::steady_clock::now();
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "mkvmerge was stopped";
    EXPECT_TRUE(fs::is_empty(out()));
}

TEST_F(MkvTrip, ABatchRefusesTwoSourcesThatWouldWriteOneFile) {
    for (const char* disc : {"A", "B"})
        fs::copy(demo_->file("disc"), dir.path() / disc, fs::copy_options::recursive);
    const std::string sources = shellQuote(dir.file("A/HVDVD_TS/FEATURE_1.EVO")) + " " +
                                shellQuote(dir.file("B/HVDVD_TS/FEATURE_1.EVO"));
    const std::string quick = fake("ok", "exit 0");
    const Ran clash = Cli("mkv --output " + shellQuote(out().string()) + " " + sources, dir, quick);
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(clash.err.find("\"" + dir.file("A/HVDVD_TS/FEATURE_1.EVO") + "\" and \"" +
                             dir.file("B/HVDVD_TS/FEATURE_1.EVO") + "\" would both write"),
              std::string::npos)
        << clash.err;
    EXPECT_TRUE(fs::is_empty(out()));

    const Ran batch = Cli("mkv --streams cbAudio00 --output " + shellQuote(out().string() + "/{disc}") + " " + sources,
                          dir, quick);
    EXPECT_EQ(batch.status, 0) << batch.err;
    EXPECT_TRUE(fs::exists(out() / "A" / "FEATURE_1_FEATURE_2.mkv"));
    EXPECT_TRUE(fs::exists(out() / "B" / "FEATURE_1_FEATURE_2.mkv"));
}

} // namespace
} // namespace halyard::test
