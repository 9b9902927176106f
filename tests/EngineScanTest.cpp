// The scanner: stream identification, header parsing and block boundaries.
#include "EngineFixture.h"

namespace halyard::test {
namespace {

using psb::Pes;
namespace sid = psb::sid;

psb::Bytes packOf(const Pes& pes) { return psb::packWith(pes); }

psb::Bytes audioPack(uint8_t substream, uint64_t pts, size_t size = 100) {
    return packOf(Pes(sid::kPrivateStream1).substream(substream).pts(pts).payload(Filled(size, substream)));
}

psb::Bytes videoPack(uint8_t streamId, uint64_t pts, size_t size = 200) {
    return packOf(Pes(streamId).pts(pts).payload(Filled(size, streamId)));
}

TEST(EngineScan, StreamsOfDifferentCodecsWithTheSameNumberShareOneSlot) {
    EngineRun run;
    run.read(Cat({audioPack(0x80, 9000), audioPack(0x88, 9000)}));
    EXPECT_EQ(run.state->Catalogue.AudioType[0], 0x80);
    EXPECT_TRUE(run.ui.has("[b]Dolby Digital[/b] audio stream 0 found!"));
    EXPECT_EQ(run.ui.joined().find("DTS"), std::string::npos);
}

TEST(EngineScan, AudioFamiliesClaimTheirSlots) {
    EngineRun run;
    run.read(Cat({audioPack(0xC8, 1), audioPack(0x83, 1), audioPack(0xB3, 1), audioPack(0x8D, 1),
                  audioPack(0xA6, 1), audioPack(0xF0, 1)}));
    const auto& audio = run.state->Catalogue.AudioType;
    EXPECT_EQ(audio[8], 0xC8);
    EXPECT_EQ(audio[3], 0x83); // TrueHD 0xB3 came second
    EXPECT_EQ(audio[5], 0x8D);
    EXPECT_EQ(audio[6], 0xA6);
    EXPECT_EQ(audio[0], -1); // 0xF0 belongs to no family
    EXPECT_TRUE(run.ui.has("[b]Dolby Digital[/b] Plus audio stream 8 found!"));
    EXPECT_TRUE(run.ui.has("[b]DTS HD (DTS)[/b] audio stream 5 found!"));
    EXPECT_TRUE(run.ui.has("[b]LPCM[/b] audio stream 6 found!"));
    EXPECT_FALSE(run.ui.has("[b]Dolby TrueHD[/b] audio stream 3 found!"));
}

TEST(EngineScan, SubstreamA1IsMlpOnlyInAob) {
    for (const char* name : {"x.AOB", "x.aob", "x.EVO", "x.VOB"}) {
        EngineRun run;
        run.read(audioPack(0xA1, 1), name);
        const bool aob = std::string(name) == "x.AOB" || std::string(name) == "x.aob";
        EXPECT_TRUE(run.ui.has(aob ? "[b]MLP[/b] audio stream 1 found!" : "[b]LPCM[/b] audio stream 1 found!"))
            << name;
    }
}

TEST(EngineScan, SubpictureSlotsUpTo31AreClaimedAndAnnounced) {
    EngineRun run;
    run.read(Cat({audioPack(0x35, 1), audioPack(0x62, 1)}));
    EXPECT_EQ(run.state->Catalogue.SubpictureType[21], 0x35);
    EXPECT_EQ(run.state->Catalogue.SubpictureType[2], 0x62);
    EXPECT_TRUE(run.ui.has("[b]Subpicture[/b] stream 21 found!"));
    EXPECT_TRUE(run.ui.has("[b]Extended subpicture[/b] stream 2 found!"));
    // Slots past 15 have their details shown once, like the others.
    EXPECT_EQ(run.state->DetailsShown.Subpicture[21], 1);
}

TEST(EngineScan, VideoStreamIdsAndExtensions) {
    EngineRun run;
    run.read(Cat({videoPack(0xE1, 3000), packOf(Pes(0xFD).pts(3000).streamIdExtension(0x71).payload(Filled(50, 1))),
                  packOf(Pes(0xFD).pts(3000).streamIdExtension(0x55).payload(Filled(50, 1)))}));
    EXPECT_EQ(run.state->Catalogue.VideoType[1], 0xE1);
    EXPECT_EQ(run.state->Catalogue.VideoType[0], 0x55);
    EXPECT_TRUE(run.ui.has("[b]MPEG-2[/b] video stream 1 found!"));
    EXPECT_TRUE(run.ui.has("[b]VC-1[/b] video stream 0 found!"));

    EngineRun h264;
    h264.read(Cat({videoPack(0xE2, 1), videoPack(0xE3, 1)}));
    EXPECT_TRUE(h264.ui.has("[b]H.264 (AVC)[/b] video stream 0 found!"));
    EXPECT_TRUE(h264.ui.has("[b]H.264 (AVC)[/b] video stream 1 found!"));
    EXPECT_EQ(h264.state->Catalogue.VideoType[0], 0xE2);
}

TEST(EngineScan, FirstPtsAndSubstreamIdLinesAndEarliestPts) {
    EngineRun run;
    run.read(Cat({audioPack(0x81, 0x12345), videoPack(0xE0, 0x23456)}));
    const auto& lines = run.ui.lines;
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "[b]Dolby Digital[/b] audio stream 1 found!");
    EXPECT_EQ(lines[1], "   First PTS = [re]00012345[/re]");
    EXPECT_EQ(lines[2], "   Substream id = 81");
    EXPECT_EQ(lines[3], "[b]MPEG-2[/b] video stream 0 found!");
    // The MPEG-2 slot latched CurrentPts at its start code, which the audio packet had used up.
    EXPECT_EQ(lines[4], "   First PTS = [re]00000000[/re]");
    EXPECT_EQ(run.state->EarliestPts, 0u);

    EngineRun audioOnly;
    audioOnly.read(Cat({audioPack(0x82, 0x23456), audioPack(0x81, 0x12345)}));
    EXPECT_EQ(audioOnly.state->EarliestPts, 0x12345u);
}

TEST(EngineScan, DetailsOffLogsOnlyAnnouncements) {
    EngineRun run;
    run.ui.cbDetails = false;
    run.read(Cat({audioPack(0x81, 0x12345), videoPack(0xE0, 0x23456)}));
    EXPECT_EQ(run.ui.lines.size(), 2u);
    // The earliest time stamp, which subpicture records count from, does not depend on
    // the details being shown.
    EXPECT_EQ(run.state->EarliestPts, 0u);

    EngineRun audioOnly;
    audioOnly.ui.cbDetails = false;
    audioOnly.read(Cat({audioPack(0x82, 0x23456), audioPack(0x81, 0x12345)}));
    EXPECT_EQ(audioOnly.state->EarliestPts, 0x12345u);
}

TEST(EngineScan, PtsDtsLatchAndMpeg2StartCodePts) {
    // An audio packet with PTS and DTS sets the latch that an H.264 slot with a lone PTS shows.
    EngineRun run;
    run.read(Cat({packOf(Pes(sid::kPrivateStream1).substream(0x80).pts(0x1111).dts(0x1000).payload(Filled(64, 3))),
                  videoPack(0xE2, 0x2222)}));
    EXPECT_TRUE(run.ui.has("   First PTS = [re]00001111[/re]")); // the H.264 slot

    // A video slot whose first packet carries both shows that packet's PTS.
    EngineRun both;
    both.read(packOf(Pes(0xE2).pts(0x3333).dts(0x3000).payload(Filled(64, 3))));
    EXPECT_EQ(both.ui.lines[1], "   First PTS = [re]00003333[/re]");

    // MPEG-2 takes CurrentPts as it stood at the start code: 0 after an audio packet used it.
    EngineRun mpeg2;
    mpeg2.read(Cat({audioPack(0x80, 0x4444), videoPack(0xE0, 0x5555)}));
    EXPECT_EQ(mpeg2.ui.lines[4], "   First PTS = [re]00000000[/re]");
}

TEST(EngineScan, PaddingAndStreamMapAreSkippedWhole) {
    // Their bodies hold what would look like packet start codes.
    psb::Bytes fake = Cat({{0, 0, 1, 0xE0, 0, 20}, Filled(40, 9)});
    EngineRun run;
    run.read(Cat({psb::Pack().add(psb::rawPacket(sid::kPadding, fake)).add(psb::ProgramStreamMap().addStream(0x02, 0xE1).build()).build(),
                  audioPack(0x82, 1)}));
    EXPECT_EQ(run.state->Catalogue.VideoType[0], -1);
    EXPECT_EQ(run.state->Catalogue.AudioType[2], 0x82);
}

TEST(EngineScan, ExtensionFlagsAsLastHeaderByteLeavesPayloadUnread) {
    // 0xFD with only an extension flag byte: no stream id extension, so no slot, and the
    // payload is not taken for a header either.
    EngineRun run;
    run.read(Cat({packOf(Pes(0xFD).emptyExtension().payload(Filled(100, 4))), audioPack(0x84, 1)}));
    EXPECT_EQ(run.state->Catalogue.VideoType[0], -1);
    EXPECT_EQ(run.state->Catalogue.AudioType[4], 0x84);
}

TEST(EngineScan, EmptyPayloadReexaminesTheNextByte) {
    // A packet whose length ends with its header, then a packet right behind it.
    psb::Bytes empty = Pes(0xE0).pts(100).build();
    EngineRun run;
    run.read(Cat({empty, Pes(sid::kPrivateStream1).substream(0x85).pts(1).payload(Filled(30, 1)).build()}));
    EXPECT_EQ(run.state->Catalogue.VideoType[0], 0xE0);
    EXPECT_EQ(run.state->Catalogue.AudioType[5], 0x85);
}

TEST(EngineScan, HeaderOutrunningItsPacketLengthNeverMovesBack) {
    // Packet length 3 but a 5-byte PTS follows: the counters run past the packet.
    for (uint16_t length : {0, 1, 3, 5, 7}) {
        EngineRun run;
        psb::Bytes damaged = Pes(sid::kPrivateStream1).substream(0x80).pts(90000).stuffing(10).packetLength(length)
                                 .payload(Filled(20, 2)).build();
        run.read(Cat({damaged, audioPack(0x86, 1)}));
        EXPECT_EQ(run.state->Catalogue.AudioType[6], 0x86) << length;
    }
}

TEST(EngineScan, HeadersSplitAcrossTheBlockBoundaryAtEveryOffset) {
    const Pes pes = Pes(sid::kPrivateStream1).substream(0x87).pts(0x1ABCDEF).dts(0x1ABCD00).payload(Filled(40, 5));
    const size_t headerSize = pes.headerSize();
    for (size_t before = 1; before <= headerSize; ++before) {
        psb::PsStream stream;
        stream.padTo(psb::kBlockSize - before).append(pes.build()).padTo(psb::kBlockSize + 4096);
        EngineRun run;
        run.read(stream.bytes());
        ASSERT_EQ(run.state->Catalogue.AudioType[7], 0x87) << before;
        EXPECT_TRUE(run.ui.has("   First PTS = [re]01ABCDEF[/re]")) << before;
    }
}

TEST(EngineScan, ModeOneLogsNothing) {
    EngineRun run;
    psb::Bytes data = Cat({audioPack(0x80, 9000), videoPack(0xE0, 9000)});
    run.read(data);
    run.ui.lines.clear();
    run.write(data);
    EXPECT_TRUE(run.ui.lines.empty());
    EXPECT_EQ(run.state->Catalogue.AudioType[0], 0x80); // slots are claimed in both modes
}

} // namespace
} // namespace halyard::test
