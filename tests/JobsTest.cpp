// The jobs over the user-interface model: paths, boxes, report, Read EVO and Demux.
#include "EngineFixture.h"

#include "model/Error.h"
#include "jobs/Jobs.h"
#include "jobs/Paths.h"
#include "jobs/StreamNames.h"
#include "SubpictureBuilder.h"

namespace halyard::test {
namespace {

using psb::Pes;

TEST(Paths, SecondFeatureCandidates) {
    for (char sep : {'/', '\\'}) {
        const std::string d = std::string("D:") + sep + "HVDVD_TS" + sep;
        EXPECT_EQ(SecondFeatureCandidate(d + "FEATURE_1.EVO", sep), d + "FEATURE_2.EVO");
        EXPECT_EQ(SecondFeatureCandidate(d + "VTS_01_1.VOB", sep), d + "VTS_01_2.VOB");
        EXPECT_EQ(SecondFeatureCandidate(d + "VTS_11_1.VOB", sep), d + "VTS_21_1.VOB"); // first "_1" wins
        EXPECT_EQ(SecondFeatureCandidate(d + "MOVIE0_A.EVO", sep), d + "MOVIE1_A.EVO"); // "0_" only without "_1"
        EXPECT_EQ(SecondFeatureCandidate(d + "PART_2.EVO", sep), "");
        const std::string folder = std::string("x_1") + sep;
        EXPECT_EQ(SecondFeatureCandidate(folder + "NAME.EVO", sep), ""); // never in the folder
    }
}

TEST(Paths, NamesExtensionsAndPrefixes) {
    EXPECT_EQ(CutExt("FEATURE_1.EVO"), "FEATURE_1");
    EXPECT_EQ(CutExt("a.b.c"), "a.b");
    EXPECT_EQ(CutExt("NAME"), "NAME");
    EXPECT_EQ(CutExt("C:\\dir.x\\NAME", '\\'), "C:\\dir.x\\NAME");
    EXPECT_EQ(CutExt("/dir.x/NAME", '/'), "/dir.x/NAME");
    EXPECT_EQ(UpperExtension("feature_1.evo"), ".EVO");
    for (char sep : {'/', '\\'}) {
        const std::string out = std::string("D:") + sep + "out";
        EXPECT_EQ(OutputPrefix(out, "FEATURE_1", sep), out + sep + "FEATURE_1");
        EXPECT_EQ(OutputPrefix(out + sep, "FEATURE_1", sep), out + sep + "FEATURE_1");
        EXPECT_EQ(OutputPrefix("", "FEATURE_1", sep), "");
        // Sibling folders of the disc layout; the test is case-sensitive.
        const std::string root = std::string("D:") + sep;
        EXPECT_EQ(PlaylistFolderFor(root + "HVDVD_TS" + sep, sep), root + "ADV_OBJ" + sep);
        EXPECT_EQ(PlaylistFolderFor(root + "hvdvd_ts" + sep, sep), "");
        EXPECT_EQ(SourceFolderFor(root + "disc" + sep + "ADV_OBJ" + sep, sep), root + "disc" + sep + "HVDVD_TS" + sep);
    }
}

TEST(StreamNames, StemsAndSlotsOutsideTheTables) {
    EXPECT_EQ(VideoStreamName(0x56), "VC-1.stream");
    EXPECT_EQ(AudioStreamName(0x8F), "DTSHD.stream");
    EXPECT_EQ(AudioStreamName(0xB7), "MLP.stream");
    EXPECT_EQ(SubpictureStreamName(0x6F), "Ext.Subpicture");
    EXPECT_EQ(AudioStreamName(0x90) + TwoDigitSuffix(7), ".07");
    EXPECT_EQ(VideoStreamName(0x99) + VideoSuffix(0), ".0");
}

struct JobsRun {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs{*state, ui};
    TempDir dir;

    std::string file(const std::string& name, const psb::Bytes& data) {
        std::string path = dir.file(name);
        psb::writeFile(path, data);
        return path;
    }
    void choose(const std::string& path) {
        ui.eEVOfile = path;
        jobs.EVOadj();
    }
};

psb::Bytes feature(uint8_t seed) {
    return Cat({psb::NavPack().layout(psb::NavLayout::Evo).startPtm(90000).endPtm(90000 + 90000 * 2).build(),
                psb::packWith(Pes(0xE0).pts(90000).payload(Cat({{0, 0, 1, 0}, Filled(500, seed), {0, 0, 1, 0}}))),
                psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x80).pts(90000).payload(Filled(300, seed)))});
}

TEST(Boxes, ResetAndClickFollowTheTicksAndTheSourceKind) {
    JobsRun run;
    run.ui.eEVOfile = "/x/feature_1.evo";
    run.ui.bRebuild.enabled = true;
    run.jobs.Resetcbs();
    EXPECT_FALSE(run.ui.bDemux.enabled);
    EXPECT_FALSE(run.ui.bRebuild.enabled);
    EXPECT_EQ(run.ui.cbSub[3].caption, "No subpicture");
    run.ui.cbAudio[4].ticked = true;
    run.jobs.cbVideoClick();
    EXPECT_TRUE(run.ui.bDemux.enabled);
    EXPECT_TRUE(run.ui.bRebuild.enabled);

    run.ui.eEVOfile = "/x/VTS_01_1.VOB"; // Rebuild keeps its state for other sources
    run.ui.cbAudio[4].ticked = false;
    run.jobs.cbVideoClick();
    EXPECT_FALSE(run.ui.bDemux.enabled);
    EXPECT_TRUE(run.ui.bRebuild.enabled);

    run.ui.cbFastCheck = false;
    run.jobs.cbFastCheckClick();
    EXPECT_FALSE(run.ui.ieFastSizeEdit.enabled);
    EXPECT_EQ(run.ui.ieFastSize, 300);
}

TEST(FrameReport, LinesByCountRateAndFiles) {
    JobsRun run;
    run.state->PictureCounter = {1000, 0};
    run.state->SlotFrameRate = {24000.0 / 1001, 0};
    run.state->TotalDuration = 41.7;
    run.jobs.logframes(false);
    EXPECT_EQ(run.ui.lines, (std::vector<std::string>{"1000 counted frames ([b]0:00:41.708[/b]) in video stream 0.",
                                                      "1000 calculated frames in video stream 0.", ""}));
    run.ui.lines.clear();
    run.state->PictureCounter = {0, 7};
    run.state->SlotFrameRate = {1, 0};
    run.state->TotalDuration = 3602.5; // 3602.5 frames: the half goes to the even 3602
    run.jobs.logframes(true);
    EXPECT_EQ(run.ui.lines, (std::vector<std::string>{"3602 calculated frames ([b]1:00:02:500[/b]) in video stream 0.",
                                                      "7 frames count in video stream 1.", ""}));
    run.ui.lines.clear();
    run.state->PictureCounter = {0, 0};
    run.state->SlotFrameRate = {0, 0};
    run.jobs.logframes(true);
    EXPECT_TRUE(run.ui.lines.empty());
}

TEST(ReadEvo, ReadsTheSecondFeatureFileAndOffersTheStreams) {
    JobsRun run;
    const std::string first = run.file("FEATURE_1.EVO", feature(1));
    run.file("FEATURE_2.EVO", feature(2));
    run.choose(first);
    run.jobs.bReadEVOClick();
    EXPECT_EQ(run.jobs.Paths.OutputBaseName, "FEATURE_1_FEATURE_2");
    EXPECT_TRUE(run.ui.has("Continue on [b]FEATURE_2.EVO[/b]"));
    EXPECT_TRUE(run.ui.cbVideo[0].ticked);
    EXPECT_EQ(run.ui.cbVideo[0].caption, "MPEG-2.stream.0");
    EXPECT_EQ(run.ui.cbAudio[0].caption, "DD.stream.00");
    EXPECT_FALSE(run.ui.cbVideo[2].enabled);
    EXPECT_EQ(run.ui.cbVideo[2].caption, "No video stream");
    EXPECT_EQ(run.state->PictureCounter[0], 4);
    EXPECT_DOUBLE_EQ(run.state->TotalDuration, 4.0);
    EXPECT_TRUE(run.ui.bDemux.enabled && run.ui.bRebuild.enabled && run.ui.bReadEVO.enabled);

    run.ui.cbContinue = false;
    run.ui.lines.clear();
    run.jobs.bReadEVOClick();
    EXPECT_EQ(run.jobs.Paths.OutputBaseName, "FEATURE_1");
    EXPECT_EQ(run.state->PictureCounter[0], 2);
}

TEST(ReadEvo, AStreamTheSecondFileLacksKeepsTheFirstFilesBox) {
    JobsRun run;
    const std::string first = run.file("FEATURE_1.EVO", feature(1));
    run.file("FEATURE_2.EVO", {});
    run.choose(first);
    run.jobs.bReadEVOClick();
    EXPECT_TRUE(run.ui.cbVideo[0].ticked);
    EXPECT_EQ(run.ui.cbVideo[0].caption, "MPEG-2.stream.0");
    EXPECT_EQ(run.ui.cbAudio[0].caption, "DD.stream.00");

    // A short second file with another stream: both files' streams are offered, and
    // Demux writes what each file holds.
    const psb::Bytes other =
        psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x89).pts(90000).payload(Filled(200, 9)));
    run.file("FEATURE_2.EVO", other);
    run.ui.lines.clear();
    run.jobs.bReadEVOClick();
    EXPECT_EQ(run.ui.cbAudio[0].caption, "DD.stream.00");
    EXPECT_EQ(run.ui.cbAudio[1].caption, "DTSHD.stream.01");
    EXPECT_TRUE(run.ui.cbVideo[0].ticked);
    run.jobs.bDemuxClick();
    EXPECT_EQ(ReadAll(run.dir.file("FEATURE_1_FEATURE_2.DD.stream.00.mpa")), Filled(300, 1));
    EXPECT_EQ(ReadAll(run.dir.file("FEATURE_1_FEATURE_2.DTSHD.stream.01.mpa")), Filled(200, 9));
}

TEST(ReadEvo, CancelDuringTheFirstFileSkipsTheSecond) {
    JobsRun run;
    psb::PsStream big;
    big.append(feature(1)).padPacksTo(6 * 1024 * 1024);
    const std::string first = run.file("FEATURE_1.EVO", big.bytes());
    run.file("FEATURE_2.EVO", feature(2));
    run.choose(first);
    run.ui.cbFastCheck = false;
    run.ui.cancelOnPump = run.state.get();
    run.jobs.bReadEVOClick();
    EXPECT_FALSE(run.ui.has("Continue on [b]FEATURE_2.EVO[/b]"));
    EXPECT_TRUE(run.ui.has("Done."));
    EXPECT_TRUE(run.ui.cbAudio[0].ticked); // the streams found so far
    EXPECT_EQ(run.state->PictureCounter[0], 0);
}

TEST(ReadEvo, ASourceThatShrinksDuringTheRunIsAnError) {
    struct ShrinkingUi : RecordingUi {
        std::string path;
        void pumpEvents() override {
            RecordingUi::pumpEvents();
            fs::resize_file(path, 5 * 1024 * 1024);
        }
    };
    auto state = std::make_unique<RunState>();
    ShrinkingUi ui;
    Jobs jobs(*state, ui);
    TempDir dir;
    psb::PsStream big;
    big.append(feature(1)).padPacksTo(8 * 1024 * 1024);
    ui.path = dir.file("A.EVO");
    psb::writeFile(ui.path, big.bytes());
    ui.eEVOfile = ui.path;
    ui.cbFastCheck = false;
    jobs.EVOadj();
    try {
        jobs.bReadEVOClick();
        FAIL() << "read to its end";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Stream read error \"" + ui.path + "\". The file ends at byte 5242880, before its size of 8388608 bytes");
    }
    EXPECT_FALSE(ui.has("Done."));
    EXPECT_EQ(ui.pumps, 1);
}

TEST(ReadEvo, AFailedOpenGivesTheButtonsBack) {
    JobsRun run;
    run.choose(run.dir.file("missing.EVO"));
    EXPECT_THROW(run.jobs.bReadEVOClick(), Error);
    EXPECT_TRUE(run.ui.bReadEVO.enabled);
    EXPECT_TRUE(run.ui.bbEVO.enabled);
    EXPECT_FALSE(run.jobs.jobRunning());
}

TEST(Demux, WritesBothFeatureFilesIntoTheSameOutputs) {
    JobsRun run;
    const std::string first = run.file("FEATURE_1.EVO", feature(1));
    run.file("FEATURE_2.EVO", feature(2));
    run.choose(first);
    run.ui.autoProcess = AutoProcess::Demux;
    fs::create_directories(run.dir.path() / "out");
    run.ui.eWorkdir = run.dir.file("out");
    run.jobs.bReadEVOClick();
    const std::string prefix = run.dir.file("out") + PathSeparator + "FEATURE_1_FEATURE_2.";
    EXPECT_EQ(ReadAll(prefix + "DD.stream.00.mpa"), Cat({Filled(300, 1), Filled(300, 2)}));
    EXPECT_TRUE(run.ui.has("Creating " + prefix + "MPEG-2.stream.0.mpv"));
    EXPECT_FALSE(run.state->BusyFlag);
    EXPECT_EQ(run.state->PictureCounter[0], 4);
}

TEST(Demux, AfterAReadThatFoundNothingAndWithAnEmptyExtension) {
    JobsRun run;
    psb::PsStream empty;
    empty.padPacksTo(4096);
    run.choose(run.file("NONE.EVO", empty.bytes()));
    run.ui.autoProcess = AutoProcess::Demux;
    run.jobs.bReadEVOClick();
    EXPECT_TRUE(run.ui.has("Demuxing...")); // Demux ran all the same, creating nothing
    EXPECT_EQ(std::distance(fs::directory_iterator(run.dir.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(std::count(run.ui.lines.begin(), run.ui.lines.end(), "Done."), 2);

    JobsRun ext;
    ext.choose(ext.file("A.EVO", feature(3)));
    ext.ui.eAudioExt = "";
    ext.jobs.bReadEVOClick();
    ext.jobs.bDemuxClick();
    EXPECT_TRUE(fs::exists(ext.dir.file("A.DD.stream.00.")));
}

TEST(Demux, ACreateFailureClosesWhatWasOpenedAndEndsBusy) {
    JobsRun run;
    run.choose(run.file("A.EVO", feature(3)));
    run.jobs.bReadEVOClick();
    run.ui.eWorkdir = run.dir.file("no-such-folder");
    EXPECT_THROW(run.jobs.bDemuxClick(), Error);
    EXPECT_FALSE(run.state->BusyFlag);
    EXPECT_EQ(run.state->SourceStream, nullptr);
    EXPECT_TRUE(run.ui.bDemux.enabled);
}

TEST(Sources, DropsAndCancel) {
    JobsRun run;
    run.ui.cbAutoRead = false;
    run.jobs.WMDropFiles({"/d/HVDVD_TS/feature_1.evo", "/d/other.EVO", "/d/third.EVO"});
    EXPECT_EQ(run.ui.eEVOfile, "/d/HVDVD_TS/feature_1.evo");
    EXPECT_EQ(run.ui.eXPLfile, std::string("/d/ADV_OBJ/VPLST000.XPL"));
    EXPECT_TRUE(run.ui.bReadXPL.enabled);
    run.jobs.WMDropFiles({"/d/ATS_01_1.AOB"}); // chosen only by dialog
    EXPECT_EQ(run.ui.eEVOfile, "/d/HVDVD_TS/feature_1.evo");
    run.jobs.WMDropFiles({"/e/ADV_OBJ/VPLST000.XPL"});
    EXPECT_EQ(run.jobs.Paths.SourceFolder, "/e/HVDVD_TS/");

    // Cancel: a read stops without a question; a writing job asks.
    run.jobs.bCancelClick();
    EXPECT_TRUE(run.state->CancelFlag);
    EXPECT_FALSE(run.ui.has("Cancelled."));
    run.state->CancelFlag = false;
    run.state->BusyFlag = true;
    run.jobs.bCancelClick(); // the recording UI answers with the default: No
    EXPECT_FALSE(run.state->CancelFlag);
}

// A drop, or a second job, while a job runs is refused.
class DropDuringJobUi : public RecordingUi {
public:
    Jobs* jobs = nullptr;
    void pumpEvents() override {
        RecordingUi::pumpEvents();
        jobs->WMDropFiles({"/elsewhere/OTHER.EVO"});
        jobs->bDemuxClick();
    }
};

TEST(Sources, NothingStartsWhileAJobRuns) {
    auto state = std::make_unique<RunState>();
    DropDuringJobUi ui;
    Jobs jobs(*state, ui);
    ui.jobs = &jobs;
    TempDir dir;
    psb::PsStream big;
    big.append(feature(1)).padPacksTo(5 * 1024 * 1024);
    psb::writeFile(dir.file("A.EVO"), big.bytes());
    ui.eEVOfile = dir.file("A.EVO");
    jobs.EVOadj();
    jobs.bReadEVOClick();
    EXPECT_EQ(ui.eEVOfile, dir.file("A.EVO"));
    EXPECT_GT(ui.pumps, 0);
    EXPECT_FALSE(ui.has("Demuxing..."));
}

} // namespace
} // namespace halyard::test

namespace halyard::test {
namespace {

// Real subpicture units, some larger than a pack, with an audio stream for the
// earliest time stamp: the ".sup" holds one record per unit, each the unit whole.
TEST(Demux, SubpictureFileHoldsOneRecordPerUnitWithRelativeTimes) {
    std::vector<psb::AccessUnit> units;
    for (int i = 0; i < 4; ++i) {
        psb::AccessUnit unit;
        unit.data = psb::SubpictureUnit().bitmap(psb::Bitmap::testPattern(i % 2 ? 700 : 64, i % 2 ? 60 : 16)).build();
        unit.pts = 180000 + uint64_t(i) * 90000;
        units.push_back(unit);
    }
    std::vector<psb::AccessUnit> audio(1);
    audio[0].data = Filled(800, 1);
    audio[0].pts = 90000;
    const psb::Bytes stream = psb::muxProgramStream(
        {psb::ElementaryStream::audio(0x80, audio), psb::ElementaryStream::subpicture(0x21, units)});

    JobsRun run;
    run.choose(run.file("SUBS.EVO", stream));
    run.jobs.bReadEVOClick();
    run.jobs.bDemuxClick();
    const psb::Bytes sup = ReadAll(run.dir.file("SUBS.Subpicture.01.sup"));
    size_t at = 0;
    for (const psb::AccessUnit& unit : units) {
        ASSERT_LE(at + 10, sup.size());
        EXPECT_EQ(sup[at], 'S');
        EXPECT_EQ(sup[at + 1], 'P');
        const uint32_t pts = uint32_t(sup[at + 2]) | uint32_t(sup[at + 3]) << 8 | uint32_t(sup[at + 4]) << 16 |
                             uint32_t(sup[at + 5]) << 24;
        EXPECT_EQ(pts, *unit.pts - 90000);
        EXPECT_EQ(psb::Bytes(sup.begin() + long(at) + 10, sup.begin() + long(at + 10 + unit.data.size())), unit.data);
        at += 10 + unit.data.size();
    }
    EXPECT_EQ(at, sup.size());
}

} // namespace
} // namespace halyard::test
