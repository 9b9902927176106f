// The report of a Read EVO and a Demux, collected from their log lines and run state.
#include "EngineFixture.h"

#include "jobs/Jobs.h"
#include "jobs/Paths.h"
#include "jobs/RunReport.h"

namespace halyard::test {
namespace {

using psb::Pes;

// A user interface that hands every log line to the collector as well.
class ReportingUi : public RecordingUi {
public:
    RunReportCollector* collector = nullptr;
    void log(std::string_view line) override {
        RecordingUi::log(line);
        if (collector)
            collector->line(line);
    }
};

struct ReportRun {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    ReportingUi ui;
    Jobs jobs{*state, ui};
    RunReportCollector collector{*state, ui};
    TempDir dir;

    ReportRun() { ui.collector = &collector; }
    std::string file(const std::string& name, const psb::Bytes& data) {
        const std::string path = dir.file(name);
        psb::writeFile(path, data);
        return path;
    }
};

Pes privateStream(uint8_t substream, uint64_t pts, const psb::Bytes& payload) {
    return Pes(psb::sid::kPrivateStream1).substream(substream).pts(pts).payload(payload);
}

// VOB n: video at n seconds, LPCM 2.0 16-bit 30 ms later, AC-3 in the second file only, a
// subpicture 10 ms before the video.
psb::Bytes feature(uint16_t vob) {
    const uint32_t start = 90000 * vob;
    psb::Bytes bytes = Cat({psb::NavPack().layout(psb::NavLayout::Evo).vobNumber(vob).startPtm(start)
                                .endPtm(start + 90000 * 2 + 45).build(),
                            psb::packWith(Pes(0xE0).pts(start).dts(start - 3600).payload(Cat({{0, 0, 1, 0}, Filled(500, 1)}))),
                            psb::packWith(privateStream(0xA1, start + 2700, Filled(400, 2)).lpcmHeader(0x00, 0x01, 0x80)),
                            psb::packWith(privateStream(0x21, start - 900, Filled(100, 3)))});
    if (vob == 2)
        bytes = Cat({bytes, psb::packWith(privateStream(0x82, start + 90, Filled(300, 4)))});
    return bytes;
}

TEST(RunReport, ReadEvoReportsSourcesStreamsAndDelaysOfBothFiles) {
    ReportRun run;
    run.ui.eEVOfile = run.file("FEATURE_1.EVO", feature(1));
    run.file("FEATURE_2.EVO", feature(2));
    run.jobs.EVOadj();
    run.jobs.bReadEVOClick();
    const RunReport report = run.collector.report();

    ASSERT_EQ(report.sources.size(), 2u);
    EXPECT_EQ(report.sources[1].path, run.dir.file("FEATURE_2.EVO"));
    EXPECT_EQ(report.sources[1].size, int64_t(feature(2).size()));
    EXPECT_DOUBLE_EQ(*report.sources[1].duration, 2.0005);

    // Three streams in the first file, four in the second, in the order announced;
    // delays against the video of the same file, in whole milliseconds.
    ASSERT_EQ(report.streams.size(), 7u);
    EXPECT_FALSE(report.streams[0].delayMs);
    const ReportStream& lpcm = report.streams[1];
    EXPECT_EQ(lpcm.caption, "LPCM.stream.01");
    EXPECT_EQ(lpcm.substreamId, 0xA1);
    EXPECT_EQ(lpcm.delayMs, 30);
    ASSERT_GE(lpcm.parameters.size(), 7u);
    EXPECT_EQ(lpcm.parameters[4].name, "Quantization length");
    EXPECT_EQ(lpcm.parameters[4].value, "16 bits"); // without markup
    EXPECT_EQ(lpcm.parameters[2].value, "off, mute = off"); // only the first " = " divides
    EXPECT_EQ(report.streams[2].box, "cbSub01");
    EXPECT_EQ(report.streams[2].delayMs, -10);
    EXPECT_EQ(report.streams[6].source, 1u);
    EXPECT_EQ(report.streams[6].delayMs, 1); // 90 ticks

    // Pictures counted over both files; no frame rate without a sequence header.
    ASSERT_EQ(report.frames.size(), 1u);
    EXPECT_EQ(report.frames[0].countedFrames, 2);
    EXPECT_FALSE(report.frames[0].calculatedFrames);
}

// The report's frame rate is what the stream's sequence header names; a code that
// names none gives the rate the frame report assumes (1), marked as such.
TEST(RunReport, AFrameRateTheStreamDoesNotGiveIsMarkedAssumed) {
    for (const uint8_t frame_rate_code : {3, 9}) {
        ReportRun run;
        // sequence_header_code, 720x576, aspect_ratio_information 2, frame_rate_code
        const psb::Bytes header{0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, uint8_t(0x20 | frame_rate_code), 0xFF, 0xFF, 0xE0, 0x00};
        run.ui.eEVOfile = run.file("x.EVO", Cat({psb::NavPack().layout(psb::NavLayout::Evo).startPtm(0).endPtm(90000).build(),
                                                 psb::packWith(Pes(0xE0).pts(0).payload(Cat({header, {0, 0, 1, 0}, Filled(100, 1)})))}));
        run.jobs.EVOadj();
        run.jobs.bReadEVOClick();
        const RunReport report = run.collector.report();
        ASSERT_EQ(report.frames.size(), 1u);
        EXPECT_EQ(report.frames[0].frameRate, frame_rate_code == 3 ? 25.0 : 1.0);
        EXPECT_EQ(report.frames[0].frameRateAssumed, frame_rate_code == 9);
        EXPECT_EQ(report.frames[0].calculatedFrames, frame_rate_code == 3 ? 25 : 1);
    }
}

TEST(RunReport, DemuxAddsItsOutputsAndANewReadStartsAfresh) {
    ReportRun run;
    const std::string source = run.file("VTS_01_1.VOB", feature(1));
    run.ui.eEVOfile = source;
    run.ui.eWorkdir = run.dir.path().string();
    run.jobs.EVOadj();
    run.jobs.bReadEVOClick();
    run.ui.cbVideo[0].ticked = false;
    run.ui.lpcmWav = true;
    run.jobs.bDemuxClick();

    RunReport report = run.collector.report();
    ASSERT_EQ(report.outputs.size(), 2u);
    const std::string prefix = OutputPrefix(run.dir.path().string(), "VTS_01_1");
    EXPECT_EQ(report.outputs[0].path, prefix + ".LPCM.stream.01.wav");
    EXPECT_EQ(report.outputs[0].format, "wav");
    EXPECT_EQ(report.outputs[1].box, "cbSub01");
    EXPECT_EQ(report.outputs[1].format, "sup");

    run.ui.cbDetails = false;
    run.jobs.bReadEVOClick();
    report = run.collector.report();
    EXPECT_EQ(report.streams.size(), 3u);
    EXPECT_FALSE(report.streams[1].firstPts);
    // Delays come from the streams' true first time stamps, which need no details.
    EXPECT_EQ(report.streams[1].delayMs, 30);
    EXPECT_TRUE(report.streams[1].parameters.empty());
    EXPECT_TRUE(report.outputs.empty());
}

} // namespace
} // namespace halyard::test
