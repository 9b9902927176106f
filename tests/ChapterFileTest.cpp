// Playlist frame times as chapters, and the rules of the mkvmerge option file.
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

#include "PsBuilder.h"
#include "ToolRunner.h"
#include "handoff/Chapters.h"
#include "handoff/MkvmergeOptions.h"
#include "model/Error.h"

namespace halyard::test {
namespace {

TEST(Chapters, FrameTimesAtTheRealClockOfTheTimeBase) {
    // The playlist schema knows two time bases; any other is an error, never a guess.
    for (const char* unknown : {"", "fps", "24fps", "25fps", "30fps", "59.94fps", "50", "50FPS", "-50fps"})
        EXPECT_THROW(TitleTimeBase(unknown), Error) << unknown;
    try {
        TitleTimeBase("48Hz");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unknown time base \"48Hz\" of the title set: the chapter times cannot be converted");
    }

    const TimeBase fifty = TitleTimeBase("50fps"), sixty = TitleTimeBase("60fps");
    EXPECT_EQ(FrameTimeMilliseconds("00:00:00:00", fifty), 0);
    EXPECT_EQ(FrameTimeMilliseconds("01:02:03:25", fifty), 3723500);
    EXPECT_EQ(FrameTimeMilliseconds("100:00:00:49", fifty), 360000980);
    // "60fps" counts 60 to the nominal second on a 60000/1001 Hz clock: 30 counts are
    // 45045 ticks of 90 kHz, 500.5 ms; two hours and 31 counts are 7.2 s later than
    // two hours of wall-clock time.
    EXPECT_EQ(FrameTimeMilliseconds("00:00:00:30", sixty), 501); // 500.5 rounds up
    EXPECT_EQ(FrameTimeMilliseconds("00:00:05:10", sixty), 5172); // 310 × 1001/60 = 5171.8
    EXPECT_EQ(FrameTimeMilliseconds("02:00:00:31", sixty), 7207717);
    // Integer arithmetic: the count of every frame of ten hours lands on the nearest millisecond.
    for (int64_t count = 0; count < 10 * 3600 * 60; count += 997) {
        char text[32];
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", (long long)(count / 216000),
                      (long long)(count / 3600 % 60), (long long)(count / 60 % 60), (long long)(count % 60));
        const int64_t expected = static_cast<int64_t>(std::floor(count * 1001.0 / 60.0 + 0.5));
        ASSERT_EQ(FrameTimeMilliseconds(text, sixty), expected) << text;
    }
    for (const char* bad : {"00:00:00:50", "00:60:00:00", "00:00:60:00", "0:0:0", "00:00:00:00:00", "aa:00:00:00",
                            "00:00:00:", "00:00:00:0x"})
        EXPECT_THROW(FrameTimeMilliseconds(bad, fifty), Error) << bad;
    EXPECT_THROW(FrameTimeMilliseconds("00:00:00:60", sixty), Error);
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

TEST(PlaylistTitles, TheSourcesTitleItsTracksAndLanguages) {
    psb::tools::TempDir dir;
    const std::string playlist = R"(<Playlist displayName="Disc &amp; More">
<MediaAttributeList><AudioAttributeItem index="1" codec="DD" channels="6"/></MediaAttributeList>
<TitleSet timeBase="60fps" tickBase="24fps">
<Title id="A" displayName="Intro" titleDuration="00:00:10:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/INTRO_1.MAP"/>
</Title>
<Title id="B" displayName="Film">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FILM_1.MAP">
<Audio track="1" streamNumber="2" mediaAttr="1" description="Director" langcode="en:01"/>
<Audio track="2" streamNumber="17" mediaAttr="1" description="out of range"/>
<Subtitle track="1" streamNumber="20" mediaAttr="9" description="x" langcode="x"/>
</PrimaryAudioVideoClip>
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FILM_2.MAP">
<Audio track="1" streamNumber="2" mediaAttr="1" description="again" langcode="fr:00"/>
</PrimaryAudioVideoClip>
<ChapterList><Chapter displayName="One" titleTimeBegin="00:00:00:00"/><Chapter displayName="Two" titleTimeBegin="00:01:00:30"/></ChapterList>
</Title>
</TitleSet>
</Playlist>
)";
    const std::string path = dir.file("VPLST000.XPL");
    psb::writeFile(path, psb::Bytes(playlist.begin(), playlist.end()));

    const PlaylistTitles titles = ReadPlaylistTitles(path, "/disc/HVDVD_TS/FILM_1.EVO");
    EXPECT_EQ(titles.playlistName, "Disc &amp; More");
    ASSERT_EQ(titles.titles.size(), 2u);
    EXPECT_EQ(titles.sourceTitle, 1u);
    const PlaylistTitle& film = titles.titles[1];
    ASSERT_EQ(film.tracks.size(), 2u); // stream 17 has no slot; stream 2 once, as its first clip has it
    EXPECT_EQ(film.tracks[0].slot, 1);
    EXPECT_EQ(film.tracks[0].name, "DD.6ch.stream.01.Director");
    EXPECT_EQ(film.tracks[0].language, "en");
    EXPECT_EQ(film.tracks[1].kind, StreamClass::Subpicture);
    EXPECT_EQ(film.tracks[1].slot, 19);
    EXPECT_EQ(film.tracks[1].codec, ""); // mediaAttr 9 names no item
    EXPECT_EQ(film.tracks[1].language, "");
    const std::vector<Chapter> chapters = TitleChapters(titles, film);
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[1].milliseconds, 60561); // 3630 counts of 1001/60 ms

    EXPECT_EQ(ReadPlaylistTitles(path, "/disc/HVDVD_TS/INTRO_1.EVO").sourceTitle, 0u);
    EXPECT_FALSE(ReadPlaylistTitles(path, "/disc/HVDVD_TS/OTHER.EVO").sourceTitle);
    EXPECT_FALSE(ReadPlaylistTitles(path, "").sourceTitle);
}

} // namespace
} // namespace halyard::test
