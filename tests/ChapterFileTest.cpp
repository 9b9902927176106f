// Playlist frame times as chapters, and the rules of the mkvmerge option file.
#include <gtest/gtest.h>

#include "cli/Chapters.h"
#include "cli/MkvmergeOptions.h"
#include "model/Error.h"

namespace halyard::cli {
namespace {

TEST(Chapters, FrameTimesAtTheTimeBaseOfTheTitleSet) {
    EXPECT_EQ(TimeBaseRate("50fps"), 50);
    EXPECT_EQ(TimeBaseRate("60fps"), 60);
    EXPECT_EQ(TimeBaseRate("24fps"), 24);
    // Unknown time bases are errors, never guesses.
    for (const char* unknown : {"", "fps", "59.94fps", "50", "50FPS", "7fps", "-50fps"})
        EXPECT_THROW(TimeBaseRate(unknown), Error) << unknown;
    try {
        TimeBaseRate("48Hz");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unknown time base \"48Hz\" of the title set: the chapter times cannot be converted");
    }

    EXPECT_EQ(FrameTimeMilliseconds("00:00:00:00", 50), 0);
    EXPECT_EQ(FrameTimeMilliseconds("01:02:03:25", 50), 3723500);
    EXPECT_EQ(FrameTimeMilliseconds("00:00:05:10", 60), 5167); // 10/60 s rounds to 167 ms
    EXPECT_EQ(FrameTimeMilliseconds("100:00:00:00", 24), 360000000);
    for (const char* bad : {"00:00:00:50", "00:60:00:00", "00:00:60:00", "0:0:0", "00:00:00:00:00", "aa:00:00:00",
                            "00:00:00:", "00:00:00:0x"})
        EXPECT_THROW(FrameTimeMilliseconds(bad, 50), Error) << bad;
}

TEST(Chapters, SimpleChapterFileForMkvmerge) {
    EXPECT_EQ(ChapterTime(3723500), "01:02:03.500");
    EXPECT_EQ(SimpleChapterFile({{"Opening", 0}, {"Zweiter Teil – Ende", 5200}, {"two\nlines", 36000000}}),
              "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\n"
              "CHAPTER02=00:00:05.200\nCHAPTER02NAME=Zweiter Teil – Ende\n"
              "CHAPTER03=10:00:00.000\nCHAPTER03NAME=two lines\n");
    EXPECT_EQ(XmlText("Tom &amp; Jerry &lt;3&gt; &quot;x&apos; &#233;&#xE9; &bogus; &"),
              "Tom & Jerry <3> \"x' \xC3\xA9\xC3\xA9 &bogus; &");
}

ReportStream Stream(StreamClass kind, int slot, const char* codec, std::optional<int64_t> delay, size_t source = 0) {
    ReportStream s;
    s.kind = kind;
    s.slot = slot;
    s.codec = codec;
    s.delayMs = delay;
    s.source = source;
    return s;
}

ReportOutput Output(StreamClass kind, int slot, const std::string& path, const char* format = "elementary") {
    ReportOutput o;
    o.kind = kind;
    o.slot = slot;
    o.path = path;
    o.format = format;
    return o;
}

TEST(MkvmergeOptions, SyncLanguagesNamesAndChaptersPerTrack) {
    RunReport report;
    report.sources.resize(2);
    report.sources[0].name = "F_1.EVO";
    report.sources[1].name = "F_2.EVO";
    report.streams = {Stream(StreamClass::Video, 0, "vc1", {}),
                      Stream(StreamClass::Audio, 0, "ac3", -40),
                      Stream(StreamClass::Audio, 0, "ac3", 12, 1), // the second file's delay is not the output's
                      Stream(StreamClass::Audio, 1, "lpcm", 0),
                      Stream(StreamClass::Audio, 2, "lpcm", 8),
                      Stream(StreamClass::Subpicture, 0, "subpicture", 100)};
    report.outputs = {Output(StreamClass::Video, 0, "/o/v.mpv"), Output(StreamClass::Audio, 0, "/o/a0.mpa"),
                      Output(StreamClass::Audio, 1, "/o/a1.mpa"), Output(StreamClass::Audio, 2, "/o/a2.wav", "wav"),
                      Output(StreamClass::Subpicture, 0, "/o/s.sup", "sup")};
    PlaylistInfo playlist;
    playlist.tracks[{StreamClass::Audio, 0}] = {"de", "DD.6ch.stream.00.Deutsch"};
    playlist.tracks[{StreamClass::Audio, 2}] = {"ja", ""};
    playlist.chaptersPath = "/o/F.chapters.txt";

    const MkvmergeOptions options = BuildMkvmergeOptions(report, "/o/F.mkv", &playlist);
    EXPECT_EQ(options.arguments, nlohmann::json::parse(R"([
        "--output", "/o/F.mkv", "--chapters", "/o/F.chapters.txt",
        "/o/v.mpv",
        "--language", "0:de", "--track-name", "0:DD.6ch.stream.00.Deutsch", "--sync", "0:-40", "/o/a0.mpa",
        "--language", "0:ja", "--sync", "0:8", "/o/a2.wav"])"));
    ASSERT_EQ(options.leftOut.size(), 2u);
    EXPECT_EQ(options.leftOut[0], "/o/a1.mpa is left out of the mkvmerge options: mkvmerge cannot read raw LPCM "
                                  "(demux with --lpcm-wav to include it)");
    EXPECT_EQ(options.leftOut[1],
              "/o/s.sup is left out of the mkvmerge options: mkvmerge cannot read the .sup subpicture format");

    // Without a playlist: no languages, names or chapters.
    EXPECT_EQ(BuildMkvmergeOptions(report, "/o/F.mkv").arguments.size(), 9u);
}

} // namespace
} // namespace halyard::cli
