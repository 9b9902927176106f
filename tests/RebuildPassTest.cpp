// Rebuild's pass, part by part: finding whole packs in a damaged file, correcting the
// synchronisation addresses for the packs left out, counting payloads as the engine
// does, and the check that reads the output back.
#include "EngineFixture.h"

#include <cstring>

#include "model/Error.h"
#include "model/OutputStream.h"
#include "rebuild/PackReader.h"
#include "rebuild/PacketPayload.h"
#include "rebuild/RebuildCheck.h"
#include "rebuild/RebuiltPackWriter.h"

namespace halyard::test {
namespace {

using psb::Pes;

psb::Bytes AudioPack(uint8_t substream, uint8_t seed) {
    return psb::packWith(Pes(psb::sid::kPrivateStream1).substream(substream).pts(90000).payload(Filled(1500, seed)));
}

psb::Bytes Junk(size_t size, uint8_t seed) { return Filled(size, seed); }

// What a reader hands on: each pack's file offset and length (its bytes checked against
// the file), and what it skipped.
struct ReadPacks {
    std::vector<std::pair<int64_t, size_t>> packs;
    uint64_t skipped = 0;
    int64_t firstSkipped = -1;
    bool operator==(const ReadPacks&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ReadPacks& read) {
    for (const auto& [at, length] : read.packs)
        out << at << "+" << length << " ";
    return out << "skipped " << read.skipped << " from " << read.firstSkipped;
}

ReadPacks Read(const psb::Bytes& data) {
    TempDir dir;
    psb::writeFile(dir.file("x.EVO"), data);
    SourceFile source(dir.file("x.EVO"));
    PackReader reader(source);
    ReadPacks read;
    while (reader.fill()) {
        PackReader::Pack pack;
        while (reader.next(pack)) {
            const int64_t at = pack.end - int64_t(pack.length);
            EXPECT_EQ(std::memcmp(pack.data, data.data() + at, pack.length), 0) << "pack at " << at;
            read.packs.emplace_back(at, pack.length);
        }
    }
    read.skipped = reader.skippedBytes();
    read.firstSkipped = reader.firstSkipped();
    return read;
}

// Packs at these offsets, each 2048 bytes long.
std::vector<std::pair<int64_t, size_t>> At(std::initializer_list<int64_t> offsets) {
    std::vector<std::pair<int64_t, size_t>> packs;
    for (int64_t at : offsets)
        packs.emplace_back(at, psb::kPackSize);
    return packs;
}

TEST(RebuildPackReader, HandsOnEveryWholePackAndSkipsWhatLiesBetween) {
    const psb::Bytes p0 = AudioPack(0x80, 1), p1 = AudioPack(0x81, 2), p2 = AudioPack(0x82, 3), p3 = AudioPack(0x83, 4);
    EXPECT_EQ(Read(Cat({p0, p1, p2})), (ReadPacks{At({0, 2048, 4096}), 0, -1}));
    // A stray byte in front shifts every pack.
    EXPECT_EQ(Read(Cat({{'X'}, p0, p1, p2})), (ReadPacks{At({1, 2049, 4097}), 1, 0}));
    // Junk between packs: the pack before it is whole.
    EXPECT_EQ(Read(Cat({p0, Junk(5, 9), p1, p2})), (ReadPacks{At({0, 2053, 4101}), 5, 2048}));
    // A byte lost inside a pack: that pack is cut short and left out, the next one kept.
    psb::Bytes cut = p1;
    cut.erase(cut.begin() + 700);
    EXPECT_EQ(Read(Cat({p0, cut, p2, p3})), (ReadPacks{At({0, 4095, 6143}), 2047, 2048}));
    // A pack start code in junk that no pack follows is no pack.
    psb::Bytes fake = Junk(100, 7);
    fake[10] = 0x00, fake[11] = 0x00, fake[12] = 0x01, fake[13] = 0xBA;
    EXPECT_EQ(Read(Cat({fake, p0, p1})), (ReadPacks{At({100, 2148}), 100, 0}));
    // Junk at the end; a last piece shorter than a pack that begins with a start code.
    EXPECT_EQ(Read(Cat({p0, p1, Junk(100, 5)})), (ReadPacks{At({0, 2048}), 100, 4096}));
    psb::Bytes piece(p2.begin(), p2.begin() + 1000);
    ReadPacks withPiece{At({0, 2048}), 0, -1};
    withPiece.packs.emplace_back(4096, 1000);
    EXPECT_EQ(Read(Cat({p0, p1, piece})), withPiece);
    EXPECT_EQ(Read(Junk(5000, 3)), (ReadPacks{{}, 5000, 0}));
}

TEST(RebuildPackReader, FindsPacksAcrossTheReadBlocks) {
    // Three bytes at the first block boundary, then junk longer than a block.
    psb::PsStream stream;
    stream.append(psb::Bytes()).padPacksTo(psb::kBlockSize);
    psb::Bytes all = Cat({stream.bytes(), {'X', 'Y', 'Z'}});
    for (int k = 0; k < 200; ++k)
        all = Cat({all, AudioPack(0x80, uint8_t(k))});
    all = Cat({all, Junk(300000, 1)});
    for (int k = 0; k < 3; ++k)
        all = Cat({all, AudioPack(0x81, uint8_t(k))});
    const ReadPacks read = Read(all);
    ASSERT_EQ(read.packs.size(), 128u + 200u + 3u);
    EXPECT_EQ(read.packs[128].first, int64_t(psb::kBlockSize) + 3);
    EXPECT_EQ(read.packs[328].first, int64_t(psb::kBlockSize) + 3 + 200 * 2048 + 300000);
    EXPECT_EQ(read.skipped, 300003u);
    EXPECT_EQ(read.firstSkipped, int64_t(psb::kBlockSize));
}

// A pack whose synchronisation entries are given; every other pack a plain one.
psb::Bytes NavWith(std::initializer_list<std::pair<size_t, uint16_t>> audio,
                   std::initializer_list<std::pair<size_t, uint32_t>> subpictures) {
    psb::NavPack nav;
    nav.layout(psb::NavLayout::HdDvd);
    for (auto [i, value] : audio)
        nav.audioSync(i, value);
    for (auto [i, value] : subpictures)
        nav.subpictureSync(i, value);
    return nav.build();
}

uint16_t AudioEntry(const psb::Bytes& pack, size_t i) { return psb::readBe16(pack, 1824 + 2 * i); }
uint32_t SubpictureEntry(const psb::Bytes& pack, size_t i) { return psb::readBe32(pack, 1840 + 4 * i); }

// Each address becomes the count of kept packs to its target, 0 when the target was
// left out; "none" stays, and what cannot be followed becomes "none". The packs go out
// in their order while navigation packs wait for targets ahead.
TEST(RebuildPackWriter, CountsTheKeptPacksToEachTargetAndKeepsTheOrder) {
    using F = PackFate;
    std::vector<psb::Bytes> source(10);
    for (size_t k = 0; k < source.size(); ++k)
        source[k] = AudioPack(0x80, uint8_t(k));
    source[0] = NavWith({{0, 3}, {1, 5}, {2, 0x3FFF}, {3, 9000}}, {{0, 0x80000001}, {1, 20}, {16, 0}});
    source[4] = NavWith({{0, 0x8002}, {1, 0x8003}}, {{0, 4}});
    const std::vector<F> fates{F::Rewritten, F::Kept, F::Dropped, F::Kept, F::Rewritten,
                               F::Dropped,   F::Kept, F::Kept,    F::Kept, F::Kept};
    TempDir dir;
    uint64_t unfollowed = 0;
    {
        OutputStream output(dir.file("out"));
        RebuiltPackWriter writer(output);
        writer.beginFile();
        std::vector<psb::Bytes> packs = source;
        for (size_t k = 0; k < packs.size(); ++k)
            writer.pack(packs[k].data(), packs[k].size(), fates[k], k == 0 || k == 4);
        writer.endOfWindow();
        writer.endOfFile();
        unfollowed = writer.unfollowedAddresses();
        output.close();
    }
    const psb::Bytes out = ReadAll(dir.file("out"));
    ASSERT_EQ(out.size(), 8 * psb::kPackSize);
    auto pack = [&](size_t k) { return psb::Bytes(out.begin() + long(k * 2048), out.begin() + long(k * 2048 + 2048)); };
    for (auto [k, from] : std::vector<std::pair<size_t, size_t>>{{1, 1}, {2, 3}, {4, 6}, {7, 9}})
        EXPECT_EQ(pack(k), source[from]) << "pack " << k;
    const psb::Bytes a = pack(0), b = pack(3);
    EXPECT_EQ(std::vector<uint32_t>({AudioEntry(a, 0), AudioEntry(a, 1), AudioEntry(a, 2), AudioEntry(a, 3)}),
              std::vector<uint32_t>({2, 0, 0x3FFF, 0x3FFF}));
    // Before the file's start, and past its end: "none".
    EXPECT_EQ(std::vector<uint32_t>({SubpictureEntry(a, 0), SubpictureEntry(a, 1)}),
              std::vector<uint32_t>({0x3FFFFFFF, 0x3FFFFFFF}));
    // Back to a pack left out, back to a kept one, ahead past the first navigation pack's wait.
    EXPECT_EQ(std::vector<uint32_t>({AudioEntry(b, 0), AudioEntry(b, 1), SubpictureEntry(b, 0)}),
              std::vector<uint32_t>({0, 0x8002, 3}));
    EXPECT_EQ(unfollowed, 3u);
}

TEST(RebuildPackWriter, FollowsATargetUpTo16MiBAhead) {
    TempDir dir;
    OutputStream output(dir.file("out"));
    RebuiltPackWriter writer(output);
    writer.beginFile();
    psb::Bytes nav = NavWith({{0, uint16_t(RebuiltPackWriter::FollowPacks)}, {1, 101}}, {});
    writer.pack(nav.data(), nav.size(), PackFate::Rewritten, true);
    psb::Bytes filler = AudioPack(0x80, 1);
    for (int64_t k = 1; k <= RebuiltPackWriter::FollowPacks; ++k) {
        writer.pack(filler.data(), filler.size(), k % 2 ? PackFate::Kept : PackFate::Dropped, false);
        writer.endOfWindow();
    }
    writer.endOfFile();
    output.close();
    EXPECT_EQ(writer.unfollowedAddresses(), 0u);
    const psb::Bytes out = ReadAll(dir.file("out"));
    ASSERT_EQ(out.size(), size_t(RebuiltPackWriter::FollowPacks / 2 + 1) * psb::kPackSize);
    EXPECT_EQ(AudioEntry(out, 0), 0); // the target, an even pack, was left out
    EXPECT_EQ(AudioEntry(out, 1), 51);
}

// Every packet shape the builder writes, in packs with padding, navigation packs and a
// pack of two packets: the payload of each packet as Rebuild reads it adds up, per
// stream, to what the engine counts reading the same bytes.
TEST(RebuildPacketPayload, CountsWhatTheEngineCounts) {
    std::vector<psb::Bytes> packs{
        psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
        psb::packWith(Pes(0xE0).pts(90000).dts(86400).pstd(true, 232).payload(Filled(1800, 1))),
        psb::packWith(Pes(0xE0).payload(Filled(1200, 2))),
        psb::packWith(Pes(0xE3).pts(93600).payload(Filled(1700, 3))),
        psb::packWith(Pes(0xFD).streamIdExtension(0x55).pstd(true, 80).pts(90000).dts(87000).payload(Filled(900, 4))),
        psb::packWith(Pes(0xFD).streamIdExtension(0x56).pts(90000).payload(Filled(600, 5))),
        psb::packWith(Pes(0xBD).substream(0x80).pts(90000).payload(Filled(700, 6))),
        psb::packWith(Pes(0xBD).substream(0x89).pts(90000).stuffing(3).payload(Filled(1000, 7))),
        psb::packWith(Pes(0xBD).substream(0xC2).pts(90000).emptyExtension().payload(Filled(500, 8))),
        psb::packWith(Pes(0xE2).emptyExtension().payload(Filled(500, 8))), // the engine stops on the flags
        psb::packWith(Pes(0xBD).substream(0xB1).pts(90000).payload(Filled(800, 9))),
        psb::packWith(Pes(0xBD).substream(0xA3).pts(90000).payload(Filled(1600, 10))),
        psb::packWith(Pes(0xBD).substream(0x21).pts(90000).payload(Filled(400, 11))),
        psb::packWith(Pes(0xBD).substream(0x62).pts(90000).payload(Filled(300, 12))),
        psb::packWith(Pes(0xBD).substream(0x90).pts(90000).payload(Filled(300, 13))),
        psb::packWith(Pes(0xC0).pts(90000).payload(Filled(300, 14))),
        psb::Pack()
            .add(Pes(0xBD).substream(0x80).payload(Filled(600, 15)).build())
            .add(Pes(0xBD).substream(0x81).pts(91000).payload(Filled(700, 16)).build())
            .build(),
        psb::packWith(Pes(0xBD).substream(0xC2).payload({})),
    };
    psb::Bytes all;
    for (const psb::Bytes& pack : packs)
        all = Cat({all, pack});
    EngineRun engine;
    engine.read(all);

    std::array<StreamCount, 256> walked{};
    for (const psb::Bytes& pack : packs) {
        ForEachPacket(pack.data(), pack.size(), [&](size_t at, size_t end) {
            if (const auto payload = PayloadOfPacket(pack.data(), at, end)) {
                walked[payload->id].Packets += 1;
                walked[payload->id].PayloadBytes += end - payload->start;
            }
        });
    }
    for (int id = 0; id < 256; ++id) {
        const StreamCount& counted = engine.state->Tally.Streams[size_t(id)];
        EXPECT_EQ(std::make_pair(walked[size_t(id)].Packets, walked[size_t(id)].PayloadBytes),
                  std::make_pair(counted.Packets, counted.PayloadBytes))
            << "id " << std::hex << id;
    }
    EXPECT_EQ(engine.state->Tally.Streams[0xE0].Packets, 2u);
    EXPECT_EQ(engine.state->Tally.Streams[0xE0].PayloadBytes, 3000u);
    EXPECT_EQ(engine.state->Tally.Streams[0xA3].PayloadBytes, 1600u);
    EXPECT_EQ(engine.state->Tally.Streams[0xC2].Packets, 2u);
    EXPECT_EQ(engine.state->Tally.StreamsSeen, 12u);
}

// The check reads the file back with the engine: a pack lost on the way, or another
// stream's packets in a kept stream's slot, fail it with both counts and the file named.
TEST(RebuildCheck, FailsOnALostPackAndOnAStreamSharingASlot) {
    TempDir dir;
    const psb::Bytes nav = psb::NavPack().layout(psb::NavLayout::HdDvd).build();
    const psb::Bytes a = AudioPack(0x80, 1), b = AudioPack(0x80, 2);
    RecordingUi ui;
    auto state = std::make_unique<RunState>();
    auto check = [&](const psb::Bytes& file) -> std::string {
        psb::writeFile(dir.file("x.EVO.partial"), file);
        std::vector<RebuiltStream> streams{{0x83, 0x80, {2, 3000, 0}, {}}};
        try {
            EXPECT_TRUE(CheckRebuiltFile(dir.file("x.EVO.partial"), streams, *state, ui, "KEPT"));
        } catch (const Error& error) {
            return error.what();
        }
        EXPECT_EQ(streams[0].found.PayloadBytes, 3000u);
        return "";
    };
    EXPECT_EQ(check(Cat({nav, a, b})), "");
    EXPECT_EQ(check(Cat({nav, a})),
              "Rebuild check failed for DD.stream.00 (substream 0x80, 0x83 in the source): the rebuilt file holds 1 "
              "packet, 1500 payload bytes, Rebuild kept 2 packets, 3000 payload bytes. The output is kept as \"KEPT\"");
    EXPECT_EQ(check(Cat({nav, a, b, AudioPack(0x88, 3)})),
              "Rebuild check failed for DD.stream.00 (substream 0x80, 0x83 in the source): the rebuilt file also holds 1 "
              "packet, 1500 payload bytes of substream 0x88 in its slot. The output is kept as \"KEPT\"");
    EXPECT_TRUE(ui.lines.empty()); // the check logs nothing
}

} // namespace
} // namespace halyard::test
