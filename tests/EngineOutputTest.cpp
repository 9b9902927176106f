// The payload writer: what each kind of stream puts into its output file.
#include "EngineFixture.h"

#include "model/Error.h"

namespace halyard::test {
namespace {

using psb::Pes;
namespace sid = psb::sid;

psb::Bytes audio(uint8_t substream, std::optional<uint64_t> pts, const psb::Bytes& payload) {
    Pes pes = Pes(sid::kPrivateStream1).substream(substream).payload(payload);
    if (pts)
        pes.pts(*pts);
    return psb::packWith(pes);
}

TEST(EngineOutput, PayloadsLoseExactlyTheirHeaders) {
    const psb::Bytes ac3 = Filled(300, 1), lpcm = Filled(400, 2), truehd = Filled(500, 3), video = Filled(1000, 4);
    EngineRun run;
    run.readAndWrite(Cat({audio(0x80, 9000, ac3), audio(0xA1, 9000, lpcm), audio(0xB2, 9000, truehd),
                          psb::packWith(Pes(0xE0).pts(9000).dts(6000).payload(video)),
                          audio(0x80, {}, ac3)}));
    EXPECT_EQ(run.output("audio0"), Cat({ac3, ac3}));
    EXPECT_EQ(run.output("audio1"), lpcm);
    EXPECT_EQ(run.output("audio2"), truehd);
    EXPECT_EQ(run.output("video0"), video);
}

TEST(EngineOutput, SubpictureRecordsCarryPtsLessEarliestPts) {
    const psb::Bytes unit1 = Filled(100, 5), unit1b = Filled(50, 6), unit2 = Filled(70, 7);
    for (const bool details : {true, false}) {
        SCOPED_TRACE(details ? "details shown" : "no details");
        EngineRun run;
        run.ui.cbDetails = details;
        run.readAndWrite(Cat({audio(0x81, 90000, Filled(100, 1)),       // EarliestPts 90000
                              audio(0x20, 90000 + 0x1234, unit1), audio(0x20, {}, unit1b),
                              audio(0x20, 90000 + 0x10203, unit2)}));
        EXPECT_EQ(run.state->EarliestPts, 90000u);
        psb::Bytes expected = Cat({{'S', 'P', 0x34, 0x12, 0, 0, 0, 0, 0, 0}, unit1, unit1b,
                                   {'S', 'P', 0x03, 0x02, 0x01, 0, 0, 0, 0, 0}, unit2});
        EXPECT_EQ(run.output("sub0"), expected);
    }
}

TEST(EngineOutput, SubpictureAtTheEarliestPtsStillStartsARecord) {
    // Its time stamp becomes 0; it is a unit of its own all the same.
    const psb::Bytes unit = Filled(60, 8);
    EngineRun run;
    run.readAndWrite(Cat({audio(0x81, 4500, Filled(100, 1)), audio(0x21, 4500, unit)}));
    EXPECT_EQ(run.output("sub1"), Cat({{'S', 'P', 0, 0, 0, 0, 0, 0, 0, 0}, unit}));
}

TEST(EngineOutput, TheOutputsCreatedAtTheStartAreTheSelection) {
    EngineRun run;
    const psb::Bytes data = Cat({audio(0x80, 1, Filled(100, 1)), audio(0x81, 1, Filled(100, 2)),
                                 audio(0x82, 1, Filled(100, 3)), audio(0x35, 1, Filled(100, 4))});
    run.read(data);
    run.tickFound();
    run.ui.cbAudio[1].ticked = false;  // unticked while the job runs: still written whole
    run.state->AudioOutput[2]->close();
    run.state->AudioOutput[2].reset(); // ticked without a file: nothing written
    run.write(data);
    EXPECT_EQ(run.output("audio0"), Filled(100, 1));
    EXPECT_EQ(run.output("audio1"), Filled(100, 2));
    EXPECT_TRUE(run.output("audio2").empty());
    EXPECT_EQ(run.state->SubpictureOutput.size(), 16u); // slot 21 has no output at all
}

TEST(EngineOutput, MpegAudioIsNeverAppendedToAnotherStream) {
    EngineRun run;
    run.readAndWrite(Cat({audio(0x80, 1, Filled(100, 1)), psb::packWith(Pes(0xC0).pts(1).payload(Filled(100, 9))),
                          audio(0x80, {}, Filled(100, 2))}));
    EXPECT_EQ(run.output("audio0"), Cat({Filled(100, 1), Filled(100, 2)}));
}

TEST(EngineOutput, PayloadAcrossTheBlockBoundaryIsWrittenWhole) {
    const psb::Bytes payload = Filled(1500, 3);
    for (size_t before : {1u, 2u, 700u, 1499u}) {
        psb::PsStream stream;
        stream.appendAcross(Pes(0xE1).pts(3003).payload(payload), psb::kBlockSize, before);
        stream.padTo(psb::kBlockSize + 4096);
        EngineRun run;
        run.readAndWrite(stream.bytes());
        EXPECT_EQ(run.output("video1"), payload) << before;
    }
}

TEST(EngineOutput, FullDeviceRaisesStreamWriteError) {
    EngineRun run;
    psb::Bytes data;
    for (int i = 0; i < 200; ++i)
        data = Cat({data, audio(0x80, 1, Filled(2000, uint8_t(i)))});
    run.read(data);
    run.ui.cbAudio[0].ticked = true;
    run.state->AudioOutput[0] = std::make_unique<OutputStream>("/dev/full");
    run.source(data);
    try {
        demux(*run.state, run.ui, ProcessMode::Demux);
        run.state->closeAll();
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Stream write error \"/dev/full\". No space left on device");
    }
    EXPECT_FALSE(run.ui.bCancel.enabled); // the run still ended properly
}

TEST(OutputStream, CountsOnlyWhatReachedTheFileAndReportsAFailedClose) {
    OutputStream full("/dev/full");
    const psb::Bytes bytes = Filled(1000, 1);
    full.write(bytes.data(), bytes.size()); // buffered
    EXPECT_THROW(full.close(), Error);
    EXPECT_EQ(full.written(), 0u);

    TempDir dir;
    OutputStream good(dir.file("a"));
    const psb::Bytes big = Filled(OutputStream::BufferSize * 2 + 17, 2);
    good.write(bytes.data(), bytes.size());
    good.write(big.data(), big.size());
    good.close();
    EXPECT_EQ(ReadAll(dir.file("a")), Cat({bytes, big}));
    EXPECT_THROW(OutputStream(dir.file("missing/x")), Error);
}

} // namespace
} // namespace halyard::test
