// halyard-cli's hand-off to other tools: the JSON results against the log, and the
// mkvmerge option file run by mkvmerge and checked with mkvmerge -J and ffprobe.
#include "DemoDiscFixture.h"

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "engine/TimeFormat.h"
#include "model/MessageMarkup.h"

namespace halyard::test {
namespace {

namespace tools = psb::tools;
using Json = nlohmann::json;

bool ValidForJsonTool(const std::string& path, const TempDir& dir) {
    return Shell("python3 -m json.tool " + tools::shellQuote(path) + " >/dev/null", dir).status == 0;
}

uint32_t HexValue(const std::string& text) {
    return uint32_t(std::stoul(text, nullptr, 16));
}

using Handoff = DemoDiscTest;

TEST_F(Handoff, ReadJsonHoldsEveryStreamTheLogAnnouncesWithTheSameValues) {
    const Ran log = Cli("read --markup " + feature(1), dir);
    const Ran json = Cli("read --json " + feature(1), dir);
    ASSERT_EQ(log.status, 0) << log.err;
    ASSERT_EQ(json.status, 0) << json.err;
    psb::writeFile(dir.file("read.json"), psb::Bytes(json.out.begin(), json.out.end()));
    EXPECT_TRUE(ValidForJsonTool(dir.file("read.json"), dir));
    const Json doc = Json::parse(json.out);
    EXPECT_EQ(doc["format_version"], 1);
    EXPECT_EQ(doc["command"], "read");

    // Walk the log: each announcement is the next stream of the document, its detail
    // lines its first PTS, its id and its parameters.
    const std::regex announced(R"(\[b\].*\[/b\]( Plus)? (video |audio )?stream (\d+) found!)");
    size_t source = 0, stream = 0, parameter = 0, frames = 0;
    const Json* current = nullptr;
    for (const std::string& line : tools::splitLines(log.out)) {
        const std::string text = DisplayedText(line);
        std::smatch match;
        if (text.rfind("Continue on ", 0) == 0) {
            ++source;
            EXPECT_EQ(doc["sources"][source]["name"], text.substr(12));
        } else if (std::regex_match(line, match, announced)) {
            ASSERT_LT(stream, doc["streams"].size()) << line;
            current = &doc["streams"][stream++];
            parameter = 0;
            EXPECT_EQ((*current)["source"], source) << line;
            EXPECT_EQ((*current)["slot"], std::stoi(match[3])) << line;
            const std::string kind = match[2].str();
            EXPECT_EQ((*current)["kind"], kind.empty() ? "subpicture" : kind.substr(0, kind.size() - 1)) << line;
        } else if (current && text.rfind("   First PTS = ", 0) == 0) {
            EXPECT_EQ((*current)["first_pts"], HexValue(text.substr(15))) << line;
        } else if (current && text.rfind("   Substream id = ", 0) == 0) {
            const Json& c = *current;
            const int id = c.contains("substream_id")          ? int(c["substream_id"])
                           : c.contains("stream_id_extension") ? int(c["stream_id_extension"])
                                                               : int(c["stream_id"]);
            EXPECT_EQ(id, int(HexValue(text.substr(18)))) << line;
        } else if (current && !text.empty() && text[0] == ' ') {
            ASSERT_LT(parameter, (*current)["parameters"].size()) << line;
            const Json& p = (*current)["parameters"][parameter++];
            const std::string value = p["value"];
            std::string expected = text.substr(text.find_first_not_of(' '));
            expected.erase(expected.find_last_not_of(' ') + 1);
            EXPECT_EQ(p["name"].get<std::string>() + (value.empty() ? "" : " = " + value), expected);
        } else {
            if (current) {
                EXPECT_EQ(parameter, (*current)["parameters"].size()) << "after " << line;
            }
            current = nullptr;
            const Json& s = doc["sources"][source];
            if (text.rfind("VOB number ", 0) == 0) {
                EXPECT_EQ(s["vob_number"], std::stoi(text.substr(11)));
            } else if (text.rfind("PTM of last video frame = ", 0) == 0) {
                EXPECT_EQ(s["last_ptm"], HexValue(text.substr(26)));
            } else if (text.rfind("Duration = ", 0) == 0) {
                EXPECT_EQ(FormatHmsZzz(double(s["duration"]) / 86400), text.substr(11));
            } else if (text.find(" counted frames (") != std::string::npos) {
                EXPECT_EQ(doc["frames"][frames++]["counted_frames"], std::stoi(text));
            }
        }
    }
    EXPECT_EQ(stream, doc["streams"].size());
    EXPECT_EQ(source + 1, doc["sources"].size());
    EXPECT_EQ(frames, 2u);
    EXPECT_EQ(doc["sources"][1]["size"], std::filesystem::file_size(feature(2)));
    // Audio and subpictures against the video of the same file.
    for (const Json& s : doc["streams"]) {
        if (s["kind"] != "video") {
            EXPECT_TRUE(s["delay_ms"].is_number()) << s;
        }
    }
}

TEST_F(Handoff, DemuxOptionFileMuxesEveryStreamMkvmergeCanRead) {
    const std::string out = dir.file("out");
    std::filesystem::create_directories(out);
    const Ran demux = Cli("demux --json --lpcm-wav --mkvmerge --output " + out + " " + feature(1), dir);
    ASSERT_EQ(demux.status, 0) << demux.err;
    const Json doc = Json::parse(demux.out);
    const std::string prefix = out + "/FEATURE_1_FEATURE_2.";
    for (const Json& output : doc["outputs"])
        EXPECT_TRUE(std::filesystem::exists(output["path"].get<std::string>())) << output;

    // Left out, one line each: the .sup file, and video slot 1 when it holds two codecs
    // (H.264 in the first file, VC-1 in the second).
    const bool mixedVideo = doc["streams"][1]["codec"] == "h264";
    const std::vector<std::string> leftOut = tools::splitLines(demux.err);
    ASSERT_EQ(leftOut.size(), mixedVideo ? 2u : 1u) << demux.err;
    EXPECT_NE(leftOut.back().find(prefix + "Subpicture.00.sup is left out"), std::string::npos) << demux.err;

    const std::string options = prefix + "mkvmerge.json";
    ASSERT_TRUE(ValidForJsonTool(options, dir));
    const Ran mux = Shell("mkvmerge @" + tools::shellQuote(options), dir);
    ASSERT_LE(mux.status, 1) << mux.out; // 1: warnings only
    const std::string mkv = prefix + "mkv";
    const Json identified = Json::parse(Shell("mkvmerge -J " + tools::shellQuote(mkv), dir).out);
    // Every audio stream, with the language and the name the playlist beside the source
    // gives it, and the delay of the JSON (the first file's streams follow its two videos).
    std::vector<std::string> audio;
    int videoTracks = 0;
    for (const Json& track : identified["tracks"]) {
        videoTracks += track["type"] == "video";
        if (track["type"] != "audio")
            continue;
        const Json& p = track["properties"];
        EXPECT_NEAR(double(p["minimum_timestamp"]) / 1e6, double(doc["streams"][2 + audio.size()]["delay_ms"]), 1.0);
        audio.push_back(track["codec"].get<std::string>() + " " + p["language"].get<std::string>() + " " +
                        p["track_name"].get<std::string>());
    }
    EXPECT_EQ(videoTracks, mixedVideo ? 1 : 2);
    EXPECT_EQ(audio, (std::vector<std::string>{"AC-3 eng en", "E-AC-3 ger de", "DTS fre fr", "TrueHD eng en",
                                               "PCM jpn ja"}));
    EXPECT_EQ(identified["chapters"][0]["num_entries"], 2);
    EXPECT_EQ(tools::readText(prefix + "chapters.txt"),
              "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:00:05.200\nCHAPTER02NAME=Second part\n");

    // ffprobe agrees with its reading of the source on codecs and channels, audio by audio.
    const tools::ProbedStreams source = tools::probeStreams(feature(1), "-f mpeg");
    const Json muxed = Json::parse(tools::ffprobeJson(mkv));
    std::vector<std::pair<std::string, std::string>> probedAudio, muxedAudio;
    for (const char* id : {"0x80", "0xc1", "0x8a", "0xb3", "0xa4"}) {
        const auto& probed = source.at(id);
        const std::string codec = probed.at("codec_name");
        probedAudio.emplace_back(codec == "pcm_dvd" ? "pcm_s16le" : codec, probed.at("channels"));
    }
    for (const Json& s : muxed["streams"])
        if (s["codec_type"] == "audio")
            muxedAudio.emplace_back(s["codec_name"], std::to_string(int(s["channels"])));
    EXPECT_EQ(muxedAudio, probedAudio);
}

TEST_F(Handoff, AudioDelayBecomesTheSyncThatMkvmergeApplies) {
    // ffmpeg's DVD muxer with the audio starting 0.3 s after the video.
    const std::string vob = dir.file("DELAY.VOB");
    ASSERT_EQ(tools::run(tools::ffmpegCommand("-f lavfi -i testsrc=size=720x480:rate=25 -itsoffset 0.3 " +
                                              tools::sineInput(48000, "3") +
                                              " -map 0:v -map 1:a -t 3 -c:v mpeg2video -c:a ac3 -f dvd " + vob)),
              0);
    const Json probed = Json::parse(tools::ffprobeJson(vob));
    double videoStart = 0, audioStart = 0;
    for (const Json& s : probed["streams"]) {
        if (s["codec_type"] == "video")
            videoStart = std::stod(s["start_time"].get<std::string>());
        if (s["codec_type"] == "audio")
            audioStart = std::stod(s["start_time"].get<std::string>());
    }
    const long delay = std::lround((audioStart - videoStart) * 1000);
    ASSERT_GT(delay, 250);

    const Ran demux = Cli("demux --json --mkvmerge --output " + dir.path().string() + " " + vob, dir);
    ASSERT_EQ(demux.status, 0) << demux.err;
    const Json doc = Json::parse(demux.out);
    EXPECT_EQ(doc["streams"][1]["delay_ms"], delay);
    const Json options = Json::parse(tools::readText(dir.file("DELAY.mkvmerge.json")));
    const std::vector<std::string> args = options;
    const auto sync = std::find(args.begin(), args.end(), "--sync");
    ASSERT_NE(sync, args.end());
    EXPECT_EQ(*(sync + 1), "0:" + std::to_string(delay));
    EXPECT_EQ(*(sync + 2), dir.file("DELAY.DD.stream.00.mpa"));

    ASSERT_LE(Shell("mkvmerge @" + dir.file("DELAY.mkvmerge.json"), dir).status, 1);
    const Json identified = Json::parse(Shell("mkvmerge -J " + dir.file("DELAY.mkv"), dir).out);
    ASSERT_EQ(identified["tracks"].size(), 2u);
    const int64_t videoFirst = identified["tracks"][0]["properties"]["minimum_timestamp"];
    const int64_t audioFirst = identified["tracks"][1]["properties"]["minimum_timestamp"];
    EXPECT_NEAR(double(audioFirst - videoFirst) / 1e6, double(delay), 1.0);
}

TEST_F(Handoff, XplJsonAndChaptersOfTheSourcesTitle) {
    const Ran xpl = Cli("xpl --json --chapters " + dir.file("chapters.txt") + " --source " + feature(1), dir);
    ASSERT_EQ(xpl.status, 0) << xpl.err;
    psb::writeFile(dir.file("xpl.json"), psb::Bytes(xpl.out.begin(), xpl.out.end()));
    EXPECT_TRUE(ValidForJsonTool(dir.file("xpl.json"), dir));
    const Json doc = Json::parse(xpl.out);
    EXPECT_EQ(doc["command"], "xpl");
    EXPECT_EQ(doc["time_base"], "50fps");
    ASSERT_EQ(doc["titles"].size(), 3u);
    ASSERT_EQ(doc["source_title"], 1);
    const Json& feature = doc["titles"][1];
    EXPECT_EQ(feature["name"], "Demo Feature");
    EXPECT_EQ(feature["tracks"].size(), 8u); // each slot once over both clips
    EXPECT_EQ(feature["tracks"][3]["name"], "DD+.2ch.stream.01.de");
    EXPECT_EQ(feature["tracks"][3]["language"], "de");
    EXPECT_EQ(feature["chapters"][1]["start"], "00:00:05.200");
    EXPECT_EQ(feature["chapters"][1]["start_ms"], 5200);
    EXPECT_EQ(tools::readText(dir.file("chapters.txt")),
              "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:00:05.200\nCHAPTER02NAME=Second part\n");

    // The title that plays the source is needed when there are several.
    const std::string playlist = demo_->file("disc/ADV_OBJ/VPLST000.XPL");
    const Ran none = Cli("xpl --chapters " + dir.file("none.txt") + " " + playlist, dir);
    EXPECT_EQ(none.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.txt")));
    // An unknown time base is an error, never a guess.
    std::string text = tools::readText(playlist);
    text.replace(text.find("50fps"), 5, "59.94fps");
    psb::writeFile(dir.file("VPLST000.XPL"), psb::Bytes(text.begin(), text.end()));
    const Ran unknown = Cli("xpl --chapters " + dir.file("c.txt") + " --source FEATURE_1.EVO " + dir.file("VPLST000.XPL"), dir);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err,
              "Unknown time base \"59.94fps\" of the title set: the chapter times cannot be converted\n");
}

} // namespace
} // namespace halyard::test
