// Navigation pack summary, durations, the system header probe, progress and cancel.
#include "EngineFixture.h"

#include "engine/TimeFormat.h"

namespace halyard::test {
namespace {

using psb::NavPack;
using psb::Pes;

std::vector<std::string> summaryOf(const RecordingUi& ui) {
    std::vector<std::string> lines;
    for (const auto& line : ui.lines)
        if (line.rfind("VOB number", 0) == 0 || line.rfind("PTM", 0) == 0 || line.rfind("Duration", 0) == 0 ||
            line.rfind("It contains", 0) == 0)
            lines.push_back(line);
    return lines;
}

TEST(EngineNavigation, SummaryDurationAndTimes) {
    EngineRun run;
    NavPack nav;
    nav.layout(psb::NavLayout::Evo).vobNumber(3).startPtm(0x1000).endPtm(0x1000 + 90000 * 61 + 45).audioSync(0, 5)
        .audioSync(1, 9);
    run.read(nav.build());
    EXPECT_EQ(summaryOf(run.ui), (std::vector<std::string>{
                                     "VOB number 3 contains [b]0[/b] video and [b]2[/b] audio streams.",
                                     "PTM of first video frame = [re]00001000[/re]",
                                     "PTM of last video frame = 0053D57D",
                                     "Duration = [b]0:01:01.001[/b]"}));
    EXPECT_EQ(run.state->FirstVideoPts, 0x1000u); // no system header probe below 256 KiB: 0 video

    EXPECT_DOUBLE_EQ(run.state->TotalDuration, 61.0005);
}

TEST(EngineNavigation, SubpicturesChangeTheWordingAndVobOffsetsApplyToVob) {
    EngineRun run;
    NavPack nav;
    nav.systemHeader(std::nullopt).layout(psb::NavLayout::Vob).vobNumber(1).audioSync(0, 1).audioSync(2, 1)
        .subpictureSync(0, 7).subpictureSync(5, 7);
    run.read(nav.build(), "VTS_01_1.VOB");
    EXPECT_EQ(summaryOf(run.ui)[0], "VOB number 1 contains [b]0[/b] video , [b]2[/b] audio and [b]2[/b] subpicture streams.");

    EngineRun single;
    single.read(NavPack().systemHeader(std::nullopt).layout(psb::NavLayout::Evo).audioSync(0, 1).build());
    EXPECT_EQ(summaryOf(single.ui)[0], "VOB number 1 contains [b]0[/b] video and [b]1[/b] audio stream.");
}

TEST(EngineNavigation, SystemHeaderAudioBoundWinsAndOnlyTheFirstNavPackCounts) {
    psb::PsStream stream;
    stream.append(NavPack().systemHeader(psb::SystemHeader::dvd(8, 1)).layout(psb::NavLayout::Vob).audioSync(0, 1)
                      .startPtm(100).endPtm(200).build());
    stream.append(NavPack().startPtm(5000).endPtm(9000).build());
    stream.padPacksTo(psb::kBlockSize * 2);
    EngineRun run;
    run.read(stream.bytes(), "x.VOB");
    EXPECT_EQ(summaryOf(run.ui)[0], "VOB number 1 contains [b]1[/b] video and [b]8[/b] audio streams.");
    EXPECT_EQ(run.state->LastVideoPts, 200u);
    EXPECT_EQ(summaryOf(run.ui).size(), 4u);
}

TEST(EngineNavigation, AobSummaryNeedsAWholeFirstBlock) {
    psb::PsStream stream;
    stream.append(NavPack().systemHeader(psb::SystemHeader::dvd(2, 0)).build());
    EngineRun small;
    small.read(stream.bytes(), "ATS_01_1.AOB");
    EXPECT_TRUE(summaryOf(small.ui)[0].rfind("VOB number", 0) == 0);

    stream.padPacksTo(psb::kBlockSize);
    EngineRun whole;
    whole.read(stream.bytes(), "ATS_01_1.AOB");
    EXPECT_EQ(summaryOf(whole.ui)[0], "It contains [b]2[/b] audio streams.");

    psb::PsStream withVideo;
    withVideo.append(NavPack().systemHeader(psb::SystemHeader::dvd(1, 1)).build()).padPacksTo(psb::kBlockSize);
    EngineRun video;
    video.read(withVideo.bytes(), "x.AOB");
    EXPECT_EQ(summaryOf(video.ui)[0], "It contains [b]1[/b] video stream and [b]1[/b] audio stream.");
}

TEST(EngineNavigation, EndBeforeStartWrapsAround) {
    EngineRun run;
    run.read(NavPack().startPtm(90000).endPtm(0).build());
    EXPECT_NEAR(run.state->TotalDuration, (4294967296.0 - 90000) / 90000, 1e-6);
}

TEST(TimeFormat, TimeOfDayOnlyRoundedToTheMillisecond) {
    EXPECT_EQ(FormatHmsZzz(25.0 / 24), "1:00:00.000");
    EXPECT_EQ(FormatHmsZzz(0), "0:00:00.000");
    EXPECT_EQ(FormatHmsZzz((3600 * 9 + 62.0006) / 86400), "9:01:02.001");
    EXPECT_EQ(FormatHmsZzz(0.9999999999), "0:00:00.000");
    EXPECT_EQ(FormatHms((59.9996) / 86400), "0:01:00");
    EXPECT_EQ(FormatHms((59.4) / 86400), "0:00:59");
}

// A file of packs holding only padding, large enough for progress lines.
psb::Bytes paddingPacks(size_t bytes) {
    psb::PsStream stream;
    stream.padPacksTo(bytes);
    return stream.take();
}

TEST(EngineProgress, FirstLineAfterFourMebibytesAndNoneForSmallFiles) {
    EngineRun run;
    run.read(paddingPacks(9 * 1024 * 1024));
    ASSERT_EQ(run.ui.status[1].size(), 2u);
    EXPECT_EQ(run.ui.status[1][0].rfind("4/9 Mbytes, Remaining time: 0:00:0", 0), 0u) << run.ui.status[1][0];
    EXPECT_EQ(run.ui.pumps, 2);

    EngineRun small;
    small.read(paddingPacks(4 * 1024 * 1024 - 2048));
    EXPECT_TRUE(small.ui.status[1].empty());
}

TEST(EngineProgress, CancelStopsAfterTheBlockAndClearsPictureCounts) {
    psb::PsStream stream;
    stream.append(psb::packWith(Pes(0xE0).pts(1).payload({0, 0, 1, 0, 0, 0, 1, 0})));
    stream.padPacksTo(16 * 1024 * 1024);
    EngineRun run;
    run.ui.cancelOnPump = run.state.get();
    run.source(stream.bytes());
    demux(*run.state, run.ui, ProcessMode::ReadAnalyse);
    EXPECT_EQ(run.state->SourceStream->position(), 4 * 1024 * 1024);
    EXPECT_EQ(run.state->PictureCounter[0], 0);
    EXPECT_FALSE(run.ui.bCancel.enabled);

    EngineRun counted;
    counted.read(stream.bytes());
    EXPECT_EQ(counted.state->PictureCounter[0], 2);
}

TEST(EngineProgress, FastCheckEndsAfterTheBlockPastTheSize) {
    EngineRun run;
    run.ui.ieFastSize = 1;
    run.source(paddingPacks(3 * 1024 * 1024));
    demux(*run.state, run.ui, ProcessMode::ReadAnalyse);
    EXPECT_EQ(run.state->SourceStream->position(), 1024 * 1024 + psb::kBlockSize);

    run.ui.ieFastSize = 0;
    run.state->SourceStream->seek(0);
    demux(*run.state, run.ui, ProcessMode::ReadAnalyse);
    EXPECT_EQ(run.state->SourceStream->position(), psb::kBlockSize);
}

TEST(EngineLargeFile, StreamsPastFourGibibytes) {
    // A sparse file: the engine starts just before 4 GiB and finds packs past it.
    const int64_t start = (int64_t(4) << 30) - psb::kBlockSize;
    EngineRun run;
    std::string path = run.dir.file("big.EVO");
    {
        psb::PsStream tail;
        tail.padPacksTo(psb::kBlockSize + 8192);
        tail.append(psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x83).pts(77).payload(Filled(500, 1))));
        psb::Bytes bytes = tail.take();
        std::ofstream file(path, std::ios::binary);
        file.seekp(start);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ASSERT_TRUE(file.good());
    }
    run.ui.eEVOfile = path;
    run.state->SourceStream = std::make_unique<SourceFile>(path);
    EXPECT_GT(run.state->SourceStream->size(), int64_t(4) << 30);
    run.state->SourceStream->seek(start);
    run.ui.cbFastCheck = false;
    demux(*run.state, run.ui, ProcessMode::ReadAnalyse);
    EXPECT_EQ(run.state->Catalogue.AudioType[3], 0x83);
    // Written too.
    run.tickFound();
    run.state->SourceStream->seek(start);
    demux(*run.state, run.ui, ProcessMode::Demux);
    run.state->closeAll();
    EXPECT_EQ(run.output("audio3"), Filled(500, 1));
}

} // namespace
} // namespace halyard::test
