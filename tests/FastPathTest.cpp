// The scanner's fast path over whole pack and packet headers against the byte machine:
// the same source scanned both ways must leave the same log, outputs, run state and run
// context, whatever the headers hold and wherever a block boundary falls.
#include "EngineFixture.h"

#include <random>
#include <sys/mman.h>
#include <unistd.h>

#include "engine/Demuxer.h"
#include "model/Error.h"

namespace halyard::test {
namespace {

using psb::Pes;
namespace sid = psb::sid;

struct Scan {
    std::vector<std::string> log;
    std::vector<psb::Bytes> outputs;
    RunContext context;
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    std::string error;
};

struct Options {
    std::string name = "x.EVO";
    ProcessMode mode = ProcessMode::ReadAnalyse;
    bool details = true;
    bool countFrames = true;
};

Scan scan(const std::string& path, ScanMethod method, const Options& options) {
    Scan result;
    RunState& state = *result.state;
    RecordingUi ui;
    ui.eEVOfile = options.name; // the engine tells the source's kind by it
    ui.cbDetails = options.details;
    ui.cbCountFr = options.countFrames;
    state.EarliestPts = 0xFFFFFFFF;
    // Outputs in memory too, one per box.
    std::vector<int> outputs;
    if (options.mode == ProcessMode::Demux) {
        const auto open = [&](StreamBox& box, std::unique_ptr<OutputStream>& output) {
            box.ticked = true;
            outputs.push_back(::memfd_create("output", MFD_CLOEXEC));
            output = std::make_unique<OutputStream>("/proc/self/fd/" + std::to_string(outputs.back()));
        };
        for (size_t slot = 0; slot < 2; ++slot)
            open(ui.cbVideo[slot], state.VideoOutput[slot]);
        for (size_t slot = 0; slot < 16; ++slot) {
            open(ui.cbAudio[slot], state.AudioOutput[slot]);
            open(ui.cbSub[slot], state.SubpictureOutput[slot]);
        }
    }
    state.SourceStream = std::make_unique<SourceFile>(path);
    Demuxer demuxer(state, ui, options.mode, method);
    try {
        demuxer.run();
    } catch (const Error& error) {
        result.error = error.what();
    }
    state.closeAll();
    result.context = demuxer.context();
    result.context.RunStartTime = {};
    result.log = ui.lines;
    for (int fd : outputs) {
        result.outputs.push_back(ReadAll("/proc/self/fd/" + std::to_string(fd)));
        ::close(fd);
    }
    return result;
}

// Both ways over the source; every difference is a failure.
void expectSameScan(const psb::Bytes& source, const Options& options) {
    // The source in memory: the runs write nothing but their outputs.
    const int fd = ::memfd_create("source", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, source.data(), source.size()), ssize_t(source.size()));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const Scan machine = scan(path, ScanMethod::ByteMachine, options);
    const Scan fast = scan(path, ScanMethod::Fast, options);
    ::close(fd);
    EXPECT_EQ(fast.log, machine.log);
    EXPECT_TRUE(fast.outputs == machine.outputs) << "outputs differ";
    EXPECT_TRUE(fast.context == machine.context) << "run contexts differ";
    EXPECT_EQ(fast.error, machine.error);
    const RunState& a = *fast.state;
    const RunState& b = *machine.state;
    EXPECT_EQ(a.Catalogue.VideoType, b.Catalogue.VideoType);
    EXPECT_EQ(a.Catalogue.AudioType, b.Catalogue.AudioType);
    EXPECT_EQ(a.Catalogue.SubpictureType, b.Catalogue.SubpictureType);
    EXPECT_TRUE(a.DetailsShown == b.DetailsShown);
    EXPECT_EQ(a.EarliestPts, b.EarliestPts);
    EXPECT_EQ(a.FirstVideoPts, b.FirstVideoPts);
    EXPECT_EQ(a.LastVideoPts, b.LastVideoPts);
    EXPECT_EQ(a.TotalDuration, b.TotalDuration);
    EXPECT_EQ(a.PictureCounter, b.PictureCounter);
    EXPECT_EQ(a.SlotFrameRate, b.SlotFrameRate);
    EXPECT_EQ(a.TrueFirstPts.Video, b.TrueFirstPts.Video);
    EXPECT_EQ(a.TrueFirstPts.Audio, b.TrueFirstPts.Audio);
    EXPECT_EQ(a.TrueFirstPts.Subpicture, b.TrueFirstPts.Subpicture);
    EXPECT_TRUE(a.Tally == b.Tally) << "packet and payload counts differ";
}

// Video payload with a picture start code and slice codes in it.
psb::Bytes pictures(size_t size, uint8_t seed) {
    psb::Bytes data = Filled(size, seed);
    for (size_t at = 0; at + 4 <= size; at += 97) {
        data[at] = 0x00;
        data[at + 1] = 0x00;
        data[at + 2] = 0x01;
        data[at + 3] = uint8_t(at % 3 == 0 ? 0x00 : 0x01 + at % 0xAF);
    }
    return data;
}

psb::Bytes pack(const Pes& pes, uint8_t stuffing = 0, uint64_t scr = 1000) {
    return psb::Pack().header(psb::PackHeader().scr(scr).stuffing(stuffing)).add(pes.build()).build();
}

// Offset of the first PES header byte after the packet's length field in a pack built
// by pack() (the packet follows the pack header and its stuffing).
constexpr size_t FirstHeaderByte = 14 + 6;

// One pack of every header the scanner meets on a disc, and some it should not.
psb::Bytes everyHeaderShape() {
    std::vector<psb::Bytes> packs;
    psb::NavPack nav;
    nav.systemHeader(psb::SystemHeader::dvd(3, 1)).startPtm(45000).endPtm(900000).audioSync(0, 1).subpictureSync(0, 2);
    packs.push_back(nav.build());
    // Video: PTS and DTS with the P-STD buffer of a VOBU's first packet, PTS alone, none.
    packs.push_back(pack(Pes(0xE0).pts(45000).dts(41400).pstd(true, 232).payload(pictures(1900, 1)), 0));
    packs.push_back(pack(Pes(0xE0).pts(48600).payload(pictures(1990, 2)), 2));
    packs.push_back(pack(Pes(0xE0).payload(pictures(2000, 3)), 7));
    packs.push_back(pack(Pes(0xE1).pts(90000).stuffing(5).payload(pictures(600, 4))));
    packs.push_back(pack(Pes(0xE0).pts(52200).emptyExtension().payload(pictures(500, 5))));
    packs.push_back(pack(Pes(0xE2).pts(90000).dts(86400).payload(pictures(1500, 6))));
    packs.push_back(pack(Pes(0xE3).payload(pictures(300, 7))));
    // VC-1 in the extended stream id, with and without a time stamp or P-STD, and an
    // extension that is not VC-1's.
    packs.push_back(pack(Pes(sid::kExtendedStreamId).pts(90000).streamIdExtension(0x55).payload(pictures(1800, 8))));
    packs.push_back(pack(Pes(sid::kExtendedStreamId).streamIdExtension(0x56).payload(pictures(700, 9))));
    packs.push_back(pack(Pes(sid::kExtendedStreamId)
                             .pts(93600)
                             .dts(90000)
                             .pstd(true, 1000)
                             .streamIdExtension(0x55)
                             .stuffing(2)
                             .payload(pictures(1200, 10))));
    packs.push_back(pack(Pes(sid::kExtendedStreamId).pts(90000).streamIdExtension(0x71).payload(Filled(400, 11))));
    // MPEG audio, then private stream 1 of every family.
    packs.push_back(pack(Pes(0xC0).pts(90000).payload(Filled(800, 12))));
    for (uint8_t substream : {0x80, 0x81, 0x8A, 0xC3, 0xA0, 0xA1, 0xB1, 0x20, 0x21, 0x61, 0x35, 0x7F, 0xF0, 0xA9})
        packs.push_back(pack(Pes(sid::kPrivateStream1).substream(substream).pts(88200 + substream).payload(
                                 Filled(100 + substream, substream)),
                             substream & 7));
    packs.push_back(pack(Pes(sid::kPrivateStream1).substream(0x20).payload(Filled(500, 13))));
    packs.push_back(pack(Pes(sid::kPrivateStream1).substream(0x80).pts(99000).dts(95400).stuffing(3).payload(
        Filled(900, 14))));
    // Two packets in one pack, and a program stream map.
    packs.push_back(psb::Pack()
                        .add(Pes(0xE0).pts(55800).payload(pictures(900, 15)).build())
                        .add(Pes(sid::kPrivateStream1).substream(0x81).pts(56000).payload(Filled(700, 16)).build())
                        .build());
    psb::ProgramStreamMap map;
    map.addStream(psb::stype::kMpeg2Video, 0xE0);
    packs.push_back(psb::Pack().add(map.build()).build());

    // Headers the fast path must leave to the machine: a recognised start code among
    // the header bytes, an unrecognised one, a time stamp longer than the header data,
    // a packet shorter than its header, an extension flag with nothing after it.
    psb::Bytes code = pack(Pes(0xE0).pts(59400).stuffing(4).payload(pictures(1000, 17)));
    std::copy_n(psb::Bytes{0x00, 0x00, 0x01, 0xBD}.begin(), 4, code.begin() + FirstHeaderByte + 8);
    packs.push_back(code);
    psb::Bytes other = pack(Pes(0xE0).pts(61200).stuffing(4).payload(pictures(1000, 18)));
    std::copy_n(psb::Bytes{0x00, 0x00, 0x01, 0xBA}.begin(), 4, other.begin() + FirstHeaderByte + 8);
    packs.push_back(other);
    psb::Bytes shortHeader = pack(Pes(0xE0).pts(63000).payload(pictures(1000, 19)));
    shortHeader[FirstHeaderByte + 2] = 3;
    packs.push_back(shortHeader);
    packs.push_back(pack(Pes(sid::kPrivateStream1).substream(0x80).pts(64800).packetLength(6).payload(Filled(50, 20))));
    psb::Bytes lonely = pack(Pes(0xE0).payload(pictures(1000, 21)));
    lonely[FirstHeaderByte + 1] = 0x01; // PES_extension_flag
    packs.push_back(lonely);
    psb::Bytes all;
    for (const psb::Bytes& one : packs)
        all.insert(all.end(), one.begin(), one.end());
    return all;
}

TEST(FastPath, AgreesWithTheByteMachineOnEveryHeaderShape) {
    const psb::Bytes source = everyHeaderShape();
    for (const char* name : {"x.EVO", "x.VOB", "x.AOB"})
        for (ProcessMode mode : {ProcessMode::ReadAnalyse, ProcessMode::Demux})
            for (bool details : {true, false}) {
                SCOPED_TRACE(std::string(name) + (mode == ProcessMode::Demux ? " demux" : " read") +
                             (details ? "" : " without details"));
                expectSameScan(source, Options{name, mode, details, !details});
            }
}

// The stream placed so that a block boundary falls at each offset of its first packs:
// headers, time stamps and substream headers cut between two blocks.
TEST(FastPath, AgreesWhereverABlockBoundaryFalls) {
    const psb::Bytes shapes = everyHeaderShape();
    std::vector<size_t> before;
    for (size_t pack = 1; pack < 16; ++pack)
        for (size_t at = 0; at < 48; ++at)
            before.push_back(pack * psb::kPackSize + at);
    before.push_back(0);
    before.push_back(shapes.size() - 1);
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE("source bytes in the first block: " + std::to_string(before[i]));
        psb::Bytes source(psb::kBlockSize - before[i], 0xFF);
        source.insert(source.end(), shapes.begin(), shapes.end());
        // A demux run opens 34 outputs: every fourth boundary is enough for the writer.
        expectSameScan(source, Options{"x.EVO", i % 4 ? ProcessMode::ReadAnalyse : ProcessMode::Demux});
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST(FastPath, AgreesOnDamagedHeaders) {
    const psb::Bytes shapes = everyHeaderShape();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> packOf(0, shapes.size() / psb::kPackSize - 1);
    std::uniform_int_distribution<size_t> headerByte(0, 40);
    std::uniform_int_distribution<int> value(0, 255);
    for (int round = 0; round < 200; ++round) {
        psb::Bytes source = shapes;
        for (int change = 0; change < 4; ++change)
            source[packOf(random) * psb::kPackSize + headerByte(random)] = uint8_t(value(random));
        expectSameScan(source, Options{"x.EVO", round % 2 ? ProcessMode::Demux : ProcessMode::ReadAnalyse});
        if (::testing::Test::HasFailure())
            return;
    }
}

} // namespace
} // namespace halyard::test
