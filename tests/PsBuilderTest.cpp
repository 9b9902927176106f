// Tests of the program stream builder that the other tests, the demo disc and
// the benchmark rely on. Byte layouts are checked against known encodings and
// against a small independent packet walker; ffprobe checks that real readers
// see the streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <string>

#include "EsFrames.h"
#include "PsBuilder.h"
#include "PsMuxer.h"
#include "SubpictureBuilder.h"
#include "ToolRunner.h"
#include "Vc1Builder.h"

using namespace psb;

namespace {

uint64_t decodeTimestamp(const Bytes& b, std::size_t at) {
    return (uint64_t{(b[at] >> 1) & 0x07u} << 30) | (uint64_t{b[at + 1]} << 22) |
           (static_cast<uint64_t>(b[at + 2] >> 1) << 15) | (uint64_t{b[at + 3]} << 7) | (b[at + 4] >> 1);
}

// A packet as a reader sees it, parsed without the builder's help.
struct Walked {
    std::size_t offset = 0;  // in the file
    uint8_t id = 0;
    std::size_t size = 0;  // whole packet
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;
    std::optional<uint16_t> pstdSize;
    std::optional<uint8_t> extension;
    std::optional<uint8_t> substream;
    uint8_t frameCount = 0;
    uint16_t pointer = 0;
    Bytes payload;  // after PES and substream header
};

bool hasPesHeader(uint8_t id) {
    return id != sid::kProgramStreamMap && id != sid::kPadding && id != sid::kPrivateStream2;
}

Walked walkPacket(const Bytes& f, std::size_t at) {
    Walked w;
    w.offset = at;
    w.id = f.at(at + 3);
    w.size = 6 + readBe16(f, at + 4);
    std::size_t payload = at + 6;
    if (hasPesHeader(w.id)) {
        const uint8_t flags = f.at(at + 7);
        std::size_t p = at + 9;
        if (flags & 0x80) { w.pts = decodeTimestamp(f, p); p += 5; }
        if (flags & 0x40) { w.dts = decodeTimestamp(f, p); p += 5; }
        if (flags & 0x01) {
            const uint8_t ext = f.at(p++);
            if (ext & 0x10) { w.pstdSize = static_cast<uint16_t>(readBe16(f, p) & 0x1FFF); p += 2; }
            if (ext & 0x01) { w.extension = f.at(p + 1) & 0x7F; p += 2; }
        }
        payload = at + 9 + f.at(at + 8);
    }
    if (w.id == sid::kPrivateStream1) {
        w.substream = f.at(payload);
        const std::size_t header = substreamHeaderSize(*w.substream);
        if (header > 1) {
            w.frameCount = f.at(payload + 1);
            w.pointer = readBe16(f, payload + 2);
        }
        payload += header;
    }
    w.payload.assign(f.begin() + static_cast<std::ptrdiff_t>(payload),
                     f.begin() + static_cast<std::ptrdiff_t>(at + w.size));
    return w;
}

// The packets of the pack at `at`; fails the test if they do not fill it exactly.
std::vector<Walked> walkPack(const Bytes& f, std::size_t at) {
    EXPECT_EQ(readBe32(f, at), 0x000001BAu) << "pack at " << at;
    std::size_t p = at + kPackHeaderSize + (f.at(at + 13) & 0x07);
    std::vector<Walked> packets;
    while (p < at + kPackSize) {
        EXPECT_EQ(readBe32(f, p) >> 8, 0x000001u) << "packet at " << p;
        if (f.at(p + 3) == sid::kSystemHeader) {
            p += 6 + readBe16(f, p + 4);
            continue;
        }
        packets.push_back(walkPacket(f, p));
        p += packets.back().size;
    }
    EXPECT_EQ(p, at + kPackSize) << "pack at " << at << " overruns";
    return packets;
}

Bytes filled(std::size_t n, uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

std::string streamKey(const Walked& w) {
    if (w.substream) return "bd" + std::to_string(*w.substream);
    if (w.extension) return "fd" + std::to_string(*w.extension);
    return std::to_string(w.id);
}

}  // namespace

// --------------------------------------------------------------- field codes

TEST(PsBuilderFields, PackHeaderMatchesTheDvdEncoding) {
    // SCR 0, mux rate 25200: the pack header found at the start of DVD packs.
    EXPECT_EQ(PackHeader().scr(0).muxRate(kDvdMuxRate).build(),
              (Bytes{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8}));

    // All 33 SCR bits and the 9 extension bits survive the marker bits.
    const Bytes h = PackHeader().scr(0x1ABCDEF12, 299).stuffing(3).build();
    ASSERT_EQ(h.size(), 17u);
    const uint64_t base = (uint64_t{(h[4] >> 3) & 0x07u} << 30) | (uint64_t{h[4] & 0x03u} << 28) |
                          (uint64_t{h[5]} << 20) | (static_cast<uint64_t>(h[6] >> 3) << 15) |
                          (uint64_t{h[6] & 0x03u} << 13) | (uint64_t{h[7]} << 5) | (h[8] >> 3);
    const unsigned ext = ((h[8] & 0x03u) << 7) | (h[9] >> 1);
    EXPECT_EQ(base, 0x1ABCDEF12u);
    EXPECT_EQ(ext, 299u);
    EXPECT_EQ(h[13] & 0x07, 3);
    EXPECT_EQ(h[16], 0xFF);
}

TEST(PsBuilderFields, TimestampsAndCrc) {
    // PTS 90000 = 0x15F90: '0010' 000 1 | 0x00 | 0000010 1 | 0xBF | 0010000 1
    EXPECT_EQ(encodeTimestamp(kPtsOnlyPrefix, 90000), (Bytes{0x21, 0x00, 0x05, 0xBF, 0x21}));
    EXPECT_EQ(encodeTimestamp(kDtsPrefix, 0)[0], 0x11);
    // Bit 32 lands in bit 3 of the first byte.
    EXPECT_EQ(encodeTimestamp(kPtsWithDtsPrefix, uint64_t{1} << 32)[0], 0x39);
    for (uint64_t ts : {uint64_t{0}, uint64_t{1}, uint64_t{0x1FFFFFFFF}, uint64_t{0x123456789}})
        EXPECT_EQ(decodeTimestamp(encodeTimestamp(kPtsOnlyPrefix, ts), 0), ts);

    const std::string check = "123456789";
    EXPECT_EQ(crc32Mpeg2(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x0376E6E7u);
}

TEST(PsBuilderFields, DvdSystemHeaderAndBounds) {
    EXPECT_EQ(SystemHeader::dvd().build(),
              (Bytes{0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF,
                     0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02}));
    // Byte 9: audio_bound in bits 7-2; byte 10: video_bound in bits 4-0.
    const Bytes h = SystemHeader::dvd(5, 2).build();
    EXPECT_EQ(h[9] >> 2, 5);
    EXPECT_EQ(h[10] & 0x1F, 2);
}

// ----------------------------------------------------------------------- PES

TEST(PsBuilderPes, SubstreamHeaderOfEachFamily) {
    struct Case {
        uint8_t id;
        std::size_t header;
        Bytes expected;  // the substream header bytes
    };
    const std::vector<Case> cases = {
        {0x20, 1, {0x20}},
        {0x3F, 1, {0x3F}},
        {0x61, 1, {0x61}},
        {0x80, 4, {0x80, 0x01, 0x00, 0x01}},
        {0x8A, 4, {0x8A, 0x01, 0x00, 0x01}},
        {0xA4, 7, {0xA4, 0x01, 0x00, 0x04, 0x00, 0x01, 0x80}},  // pointer past the 3 LPCM bytes
        {0xB3, 5, {0xB3, 0x01, 0x00, 0x02, 0x00}},
        {0xC1, 4, {0xC1, 0x01, 0x00, 0x01}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const Bytes payload = {0xAA, 0xBB, 0xCC};
        const Bytes p = Pes(sid::kPrivateStream1).substream(c.id).pts(90000).payload(payload).build();
        EXPECT_EQ(substreamHeaderSize(c.id), c.header);
        ASSERT_EQ(p.size(), 14 + c.header + payload.size());
        EXPECT_EQ(readBe16(p, 4), p.size() - 6);
        EXPECT_EQ(p[8], 5);  // PES_header_data_length: the PTS
        EXPECT_EQ(Bytes(p.begin() + 14, p.begin() + 14 + static_cast<std::ptrdiff_t>(c.header)), c.expected);
        EXPECT_EQ(Bytes(p.end() - 3, p.end()), payload);
    }
}

TEST(PsBuilderPes, ExtensionWithPstdAndStreamIdExtension) {
    const Bytes p = Pes(sid::kExtendedStreamId).pts(90000).pstd(true, 232).streamIdExtension(0x55)
                        .payload({0x00, 0x00, 0x01, 0x0F}).build();
    const Bytes expected = {0x00, 0x00, 0x01, 0xFD, 0x00, 0x11,
                            0x81, 0x81, 0x0A,              // PTS + extension, 10 header bytes
                            0x21, 0x00, 0x05, 0xBF, 0x21,  // PTS
                            0x1F,                          // P-STD + '111' + extension 2
                            0x60, 0xE8,                    // '01' scale 1, size 232
                            0x81, 0x55,                    // field length 1, stream_id_extension
                            0x00, 0x00, 0x01, 0x0F};
    EXPECT_EQ(p, expected);

    // Extension 2 alone, without a time stamp.
    const Bytes q = Pes(sid::kExtendedStreamId).streamIdExtension(0x56).payload({1}).build();
    EXPECT_EQ(Bytes(q.begin() + 6, q.end()), (Bytes{0x81, 0x01, 0x03, 0x0F, 0x81, 0x56, 0x01}));

    // A flag byte that announces nothing.
    const Bytes e = Pes(sid::kVideo).emptyExtension().build();
    EXPECT_EQ(Bytes(e.begin() + 6, e.end()), (Bytes{0x81, 0x01, 0x01, 0x0E}));
}

TEST(PsBuilderPes, TimestampsStuffingAndDamagedLength) {
    const Bytes p = Pes(sid::kVideo).pts(3600).dts(0).stuffing(3).payload({9, 9}).build();
    EXPECT_EQ(p[7], 0xC0);
    EXPECT_EQ(p[8], 13);
    EXPECT_EQ(p[9] >> 4, kPtsWithDtsPrefix);
    EXPECT_EQ(decodeTimestamp(p, 9), 3600u);
    EXPECT_EQ(p[14] >> 4, kDtsPrefix);
    EXPECT_EQ(decodeTimestamp(p, 14), 0u);
    EXPECT_EQ(Bytes(p.begin() + 19, p.begin() + 22), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Pes(sid::kVideo).pts(1).stuffing(3).headerSize(), 9u + 5 + 3);

    // The override changes only the length field.
    Pes damaged = Pes(sid::kVideo).pts(3600).payload(filled(100, 1));
    Bytes good = damaged.build();
    Bytes bad = damaged.packetLength(4000).build();
    EXPECT_EQ(readBe16(bad, 4), 4000);
    bad[4] = good[4];
    bad[5] = good[5];
    EXPECT_EQ(bad, good);

    EXPECT_THROW(Pes().dts(5).build(), std::logic_error);
    EXPECT_THROW(Pes().payload(Bytes(70000)).build(), std::length_error);
}

TEST(PsBuilderPes, PaddingAndProgramStreamMap) {
    const Bytes pad = paddingPacket(10);
    EXPECT_EQ(pad, (Bytes{0x00, 0x00, 0x01, 0xBE, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_THROW(paddingPacket(5), std::invalid_argument);

    const Bytes psm = ProgramStreamMap().version(3).addStream(stype::kMpeg2Video, 0xE0)
                          .addStream(stype::kH264, 0xE3, {0x05, 0x00}).build();
    EXPECT_EQ(readBe32(psm, 0), 0x000001BCu);
    EXPECT_EQ(readBe16(psm, 4), psm.size() - 6);
    EXPECT_EQ(psm[6], 0xE3);  // current_next_indicator, reserved, version 3
    EXPECT_EQ(readBe16(psm, 10), 4 + 6);  // elementary_stream_map_length
    EXPECT_EQ(Bytes(psm.begin() + 12, psm.begin() + 22),
              (Bytes{0x02, 0xE0, 0x00, 0x00, 0x1B, 0xE3, 0x00, 0x02, 0x05, 0x00}));
    // A section followed by its CRC checks to zero.
    EXPECT_EQ(crc32Mpeg2(psm.data(), psm.size()), 0u);
}

// -------------------------------------------------------------- packs, navs

TEST(PsBuilderPacks, PackFillsTo2048) {
    const Bytes pes = Pes(sid::kVideo).pts(0).payload(filled(1000, 3)).build();
    const Bytes pack = Pack().scr(100).add(pes).build();
    ASSERT_EQ(pack.size(), kPackSize);
    const auto packets = walkPack(pack, 0);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].id, sid::kPadding);

    // Gaps too small for a padding packet become pack stuffing.
    for (std::size_t gap = 1; gap < 6; ++gap) {
        const std::size_t payload = kPackSize - kPackHeaderSize - 14 - gap;
        const Bytes p = Pack().add(Pes(sid::kVideo).pts(0).payload(filled(payload, 1)).build()).build();
        ASSERT_EQ(p.size(), kPackSize) << gap;
        EXPECT_EQ(p[13] & 0x07, static_cast<int>(gap));
        EXPECT_EQ(walkPack(p, 0).size(), 1u);
    }

    EXPECT_EQ(Pack().fill(false).add(pes).build().size(), kPackHeaderSize + pes.size());
    EXPECT_THROW(Pack().add(Bytes(2100)).build(), std::length_error);
}

TEST(PsBuilderPacks, NavPackLayout) {
    const Bytes nav = NavPack().scr(4500).vobNumber(7).startPtm(90000).endPtm(450000)
                          .audioSync(0, 0x11).audioSync(2, 0x22).subpictureSync(0, 0x33)
                          .layout(NavLayout::Both).build();
    ASSERT_EQ(nav.size(), kPackSize);
    EXPECT_EQ(readBe32(nav, 14), 0x000001BBu);
    // PCI packet at 38, length 0x3D4; DSI packet at 1024, length 0x3FA.
    EXPECT_EQ(Bytes(nav.begin() + 38, nav.begin() + 45), (Bytes{0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x00}));
    EXPECT_EQ(Bytes(nav.begin() + 1024, nav.begin() + 1031), (Bytes{0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x01}));
    const std::size_t d = NavPack().dsiDataOffset();
    EXPECT_EQ(d, 1031u);
    EXPECT_EQ(readBe16(nav, d + dsi::kVobNumber), 7);
    EXPECT_EQ(readBe32(nav, d + dsi::kStartPtm), 90000u);
    EXPECT_EQ(readBe32(nav, d + dsi::kEndPtm), 450000u);
    EXPECT_EQ(readBe32(nav, d + dsi::kNavPackScr), 4500u);
    for (std::size_t base : {dsi::kAudioSyncVob, dsi::kAudioSyncEvo}) {
        EXPECT_EQ(readBe16(nav, d + base), 0x11);
        EXPECT_EQ(readBe16(nav, d + base + 2), 0);
        EXPECT_EQ(readBe16(nav, d + base + 4), 0x22);
    }
    EXPECT_EQ(readBe32(nav, d + dsi::kSubpictureSyncVob), 0x33u);
    EXPECT_EQ(readBe32(nav, d + dsi::kSubpictureSyncEvo), 0x33u);
    // The HD DVD audio entries win over the last DVD subpicture entries they overlap.
    EXPECT_EQ(readBe32(nav, d + dsi::kSubpictureSyncVob + 4 * 28), 0x00110000u);

    const Bytes vob = NavPack().audioSync(0, 0x11).layout(NavLayout::Vob).build();
    EXPECT_EQ(readBe16(vob, d + dsi::kAudioSyncVob), 0x11);
    EXPECT_EQ(readBe16(vob, d + dsi::kAudioSyncEvo), 0);
    const Bytes evo = NavPack().audioSync(0, 0x11).layout(NavLayout::Evo).build();
    EXPECT_EQ(readBe16(evo, d + dsi::kAudioSyncVob), 0);
    EXPECT_EQ(readBe16(evo, d + dsi::kAudioSyncEvo), 0x11);

    // Without the system header the PCI packet takes the room; the DSI stays put.
    const Bytes bare = NavPack().systemHeader(std::nullopt).vobNumber(3).build();
    ASSERT_EQ(bare.size(), kPackSize);
    EXPECT_EQ(readBe16(bare, 18), 0x3D4 + 24);
    EXPECT_EQ(readBe16(bare, d + dsi::kVobNumber), 3);
    EXPECT_EQ(walkPack(bare, 0).size(), 2u);
}

TEST(PsBuilderPacks, PadToAnyOffsetLeavesWalkablePackets) {
    for (std::size_t gap : {0, 3, 5, 6, 7, 11, 12, 2048, 65540, 65541, 65542, 65546, 65547, 131082, 200000}) {
        PsStream s;
        s.append(Bytes{1, 2, 3});
        s.padTo(3 + gap);
        ASSERT_EQ(s.size(), 3 + gap) << gap;
        std::size_t p = 3;
        while (p + 6 <= s.size() && readBe32(s.bytes(), p) == 0x000001BEu) p += 6 + readBe16(s.bytes(), p + 4);
        EXPECT_LT(s.size() - p, 6u) << gap;
    }
    PsStream late;
    late.append(Bytes(10));
    EXPECT_THROW(late.padTo(5), std::logic_error);
}

TEST(PsBuilderPacks, PayloadAcrossTheBlockBoundary) {
    for (std::size_t before : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{1500}}) {
        PsStream s;
        s.padPacksTo(126 * kPackSize);
        const Bytes payload = filled(3000, 5);
        const Pes pes = Pes(sid::kPrivateStream1).substream(0x80).pts(1234).payload(payload);
        s.appendAcross(pes, kBlockSize, before);
        const std::size_t start = kBlockSize - before;
        ASSERT_EQ(s.size(), start + payload.size()) << before;
        EXPECT_EQ(Bytes(s.bytes().begin() + static_cast<std::ptrdiff_t>(start), s.bytes().end()), payload);
        EXPECT_EQ(readBe32(s.bytes(), start - pes.headerSize()), 0x000001BDu);
    }
}

// -------------------------------------------------------------------- muxer

namespace {

std::vector<AccessUnit> syntheticVideo(std::size_t count) {
    std::vector<AccessUnit> units;
    for (std::size_t k = 0; k < count; ++k) {
        AccessUnit u;
        u.data = filled(k % 12 == 0 ? 9000 : 300 + (k * 977) % 2500, static_cast<uint8_t>(k));
        u.data[0] = 0x00; u.data[1] = 0x00; u.data[2] = 0x01; u.data[3] = 0x00;
        u.pts = 90000 + k * 3600 + 3600;
        u.dts = 90000 + k * 3600;
        u.keyframe = k % 12 == 0;
        u.duration = 3600;
        units.push_back(std::move(u));
    }
    return units;
}

std::vector<AccessUnit> syntheticAudio(std::size_t count, std::size_t size, uint64_t step) {
    std::vector<AccessUnit> units;
    for (std::size_t k = 0; k < count; ++k) {
        AccessUnit u;
        u.data = filled(size, static_cast<uint8_t>(k * 3));
        u.pts = 90000 + k * step;
        u.duration = step;
        units.push_back(std::move(u));
    }
    return units;
}

struct Demuxed {
    std::vector<std::vector<Walked>> packs;
    std::map<std::string, Bytes> streams;
    std::map<std::string, std::vector<std::pair<std::size_t, Walked>>> packets;  // stream offset, packet
};

Demuxed demux(const Bytes& file) {
    Demuxed d;
    for (std::size_t at = 0; at < file.size(); at += kPackSize) {
        d.packs.push_back(walkPack(file, at));
        for (const Walked& w : d.packs.back()) {
            if (w.id == sid::kPadding || w.id == sid::kPrivateStream2 || w.id == sid::kProgramStreamMap) continue;
            Bytes& s = d.streams[streamKey(w)];
            d.packets[streamKey(w)].emplace_back(s.size(), w);
            s.insert(s.end(), w.payload.begin(), w.payload.end());
        }
    }
    return d;
}

Bytes joined(const std::vector<AccessUnit>& units) {
    Bytes out;
    for (const auto& u : units) out.insert(out.end(), u.data.begin(), u.data.end());
    return out;
}

// Checks that every packet in which a unit begins carries that unit's times,
// that no other packet carries times, and the audio frame count and pointer.
void expectUnitTiming(const std::vector<std::pair<std::size_t, Walked>>& packets,
                      const std::vector<AccessUnit>& units) {
    std::vector<std::size_t> starts;
    std::size_t offset = 0;
    for (const auto& u : units) { starts.push_back(offset); offset += u.data.size(); }
    for (const auto& [at, w] : packets) {
        const auto first = std::lower_bound(starts.begin(), starts.end(), at);
        const auto last = std::lower_bound(starts.begin(), starts.end(), at + w.payload.size());
        SCOPED_TRACE("packet at file offset " + std::to_string(w.offset));
        if (first == last) {
            EXPECT_FALSE(w.pts);
            EXPECT_EQ(w.frameCount, 0);
            continue;
        }
        const AccessUnit& unit = units[static_cast<std::size_t>(first - starts.begin())];
        ASSERT_TRUE(w.pts);
        EXPECT_EQ(*w.pts, *unit.pts);
        EXPECT_EQ(w.dts, unit.dts);
        if (w.substream && substreamHeaderSize(*w.substream) > 1) {
            EXPECT_EQ(w.frameCount, last - first);
            EXPECT_EQ(w.pointer, *first - at + substreamExtraBytes(*w.substream) + 1);
        }
    }
}

}  // namespace

TEST(PsBuilderMuxer, PacksCarryEveryStreamWithTimesAndNavigation) {
    const auto video = syntheticVideo(60);  // 2.4 s, a keyframe every 12 pictures
    const auto ac3 = syntheticAudio(80, 768, 2880);
    const auto lpcm = syntheticAudio(360, 322, 150);  // not a multiple of the 4-byte sample group
    std::vector<AccessUnit> spus;
    for (uint64_t t : {90000u, 180000u}) {
        AccessUnit u;
        u.data = SubpictureUnit().bitmap(Bitmap::testPattern(300, 60)).build();
        u.pts = t;
        spus.push_back(u);
    }
    ElementaryStream lpcmStream = ElementaryStream::audio(0xA0, lpcm);
    lpcmStream.granule = 4;
    const std::vector<ElementaryStream> streams = {ElementaryStream::video(0xE0, video),
                                                   ElementaryStream::audio(0x80, ac3), lpcmStream,
                                                   ElementaryStream::subpicture(0x21, spus)};
    MuxOptions options;
    options.navLayout = NavLayout::Evo;
    options.vobNumber = 9;
    options.vobuSeconds = 0.4;
    const Bytes file = muxProgramStream(streams, options);
    ASSERT_EQ(file.size() % kPackSize, 0u);
    const Demuxed d = demux(file);

    EXPECT_EQ(d.streams.at("224"), joined(video));
    EXPECT_EQ(d.streams.at("bd128"), joined(ac3));
    EXPECT_EQ(d.streams.at("bd160"), joined(lpcm));
    EXPECT_EQ(d.streams.at("bd33"), joined(spus));
    expectUnitTiming(d.packets.at("224"), video);
    expectUnitTiming(d.packets.at("bd128"), ac3);
    expectUnitTiming(d.packets.at("bd160"), lpcm);
    expectUnitTiming(d.packets.at("bd33"), spus);

    const auto& lpcmPackets = d.packets.at("bd160");
    for (std::size_t k = 0; k + 1 < lpcmPackets.size(); ++k) EXPECT_EQ(lpcmPackets[k].second.payload.size() % 4, 0u);
    for (const auto& [at, w] : d.packets.at("bd33")) EXPECT_TRUE(at == 0 || at == spus[0].data.size() ? bool(w.pts) : !w.pts);
    EXPECT_TRUE(d.packets.at("224").front().second.pstdSize);

    // Navigation: the first pack, and one before each keyframe 0.4 s or more after the last.
    std::vector<std::size_t> navs;
    for (std::size_t k = 0; k < d.packs.size(); ++k)
        if (d.packs[k].size() >= 2 && d.packs[k][0].id == sid::kPrivateStream2) navs.push_back(k);
    ASSERT_EQ(navs.size(), 5u);  // keyframes at 0, 0.48, 0.96, 1.44 and 1.92 s
    EXPECT_EQ(navs[0], 0u);
    const std::size_t dsiData = NavPack().dsiDataOffset();
    for (std::size_t v = 0; v < navs.size(); ++v) {
        const std::size_t nav = navs[v] * kPackSize;
        SCOPED_TRACE("VOBU " + std::to_string(v));
        EXPECT_EQ(file[23] >> 2, 2);           // two audio streams in the system header
        EXPECT_EQ(file[24] & 0x1F, 1);         // one video stream
        EXPECT_EQ(readBe16(file, nav + dsiData + dsi::kVobNumber), 9);
        EXPECT_EQ(readBe32(file, nav + dsiData + dsi::kStartPtm), 93600u);
        EXPECT_EQ(readBe32(file, nav + dsiData + dsi::kEndPtm), 93600u + 60 * 3600);
        const std::size_t next = v + 1 < navs.size() ? navs[v + 1] : d.packs.size();
        EXPECT_EQ(readBe32(file, nav + dsiData + dsi::kVobuEndAddress), next - 1 - navs[v]);
        int audio = 0, subpictures = 0;
        for (std::size_t k = 0; k < dsi::kAudioSyncCount; ++k)
            audio += readBe16(file, nav + dsiData + dsi::kAudioSyncEvo + 2 * k) != 0;
        for (std::size_t k = 0; k < dsi::kSubpictureSyncCount; ++k)
            subpictures += readBe32(file, nav + dsiData + dsi::kSubpictureSyncEvo + 4 * k) != 0;
        EXPECT_EQ(audio, 2);
        EXPECT_EQ(subpictures, 1);
        if (v > 0) {
            const Walked& after = d.packs[navs[v] + 1][0];
            EXPECT_EQ(after.id, 0xE0);
            EXPECT_TRUE(after.pts);
        }
    }
}

TEST(PsBuilderMuxer, Vc1PacketsCarryTheStreamIdExtension) {
    Bytes es = Vc1SequenceHeader().build();
    const Bytes entry = vc1EntryPoint();
    es.insert(es.end(), entry.begin(), entry.end());
    for (int k = 0; k < 8; ++k) {
        const Bytes f = vc1Frame(3000, k == 0, static_cast<uint8_t>(k));
        es.insert(es.end(), f.begin(), f.end());
    }
    const auto units = es::splitVc1(es, 90000, 3754);
    ASSERT_EQ(units.size(), 8u);
    EXPECT_TRUE(units[0].keyframe);
    const Bytes file = muxProgramStream({ElementaryStream::vc1(sidext::kVc1Secondary, units)});
    const Demuxed d = demux(file);
    EXPECT_EQ(d.streams.at("fd86"), es);
    for (const auto& [at, w] : d.packets.at("fd86")) EXPECT_EQ(w.id, sid::kExtendedStreamId);
    expectUnitTiming(d.packets.at("fd86"), units);
}

// ------------------------------------------------------------- subpictures

TEST(PsBuilderSubpicture, RunLengthCodes) {
    auto line = [](std::vector<std::pair<int, uint8_t>> runs) {
        Bitmap b;
        for (auto [n, c] : runs) b.pixels.insert(b.pixels.end(), static_cast<std::size_t>(n), c);
        b.width = static_cast<int>(b.pixels.size());
        b.height = 1;
        return encodeRleLine(b, 0);
    };
    EXPECT_EQ(line({{3, 1}}), (Bytes{0xD0}));                 // 11 01, padded
    EXPECT_EQ(line({{10, 2}, {1, 0}}), (Bytes{0x2A, 0x40}));  // 00 1010 10 | 01 00
    EXPECT_EQ(line({{20, 3}, {1, 0}}), (Bytes{0x05, 0x34}));  // 0000 010100 11 | 01 00
    EXPECT_EQ(line({{100, 1}, {1, 0}}), (Bytes{0x01, 0x91, 0x40}));  // 000000 01100100 01 | 01 00
    EXPECT_EQ(line({{300, 2}}), (Bytes{0x00, 0x02}));          // rest of the line
    EXPECT_EQ(line({{300, 2}, {1, 0}}), (Bytes{0x03, 0xFE, 0x0B, 0x64}));  // 255 + 45, then 1
}

TEST(PsBuilderSubpicture, UnitLayout) {
    const Bitmap bitmap = Bitmap::testPattern(40, 10);
    const Bytes spu = SubpictureUnit().bitmap(bitmap).position(100, 200).duration(5 * 1024).build();
    EXPECT_EQ(readBe16(spu, 0), spu.size());
    const std::size_t first = readBe16(spu, 2);
    EXPECT_EQ(readBe16(spu, first), 0);  // shown at the PTS
    const std::size_t second = readBe16(spu, first + 2);
    EXPECT_EQ(readBe16(spu, second), 5);  // stopped 5 x 1024 ticks later
    EXPECT_EQ(readBe16(spu, second + 2), second);
    EXPECT_EQ(Bytes(spu.end() - 2, spu.end()), (Bytes{spucmd::kStopDisplay, spucmd::kEnd}));
    // Commands: SET_COLOR, SET_CONTR, SET_DAREA (100..139, 200..209), SET_DSPXA, STA_DSP, CMD_END.
    const Bytes commands(spu.begin() + static_cast<std::ptrdiff_t>(first + 4),
                         spu.begin() + static_cast<std::ptrdiff_t>(second));
    ASSERT_EQ(commands.size(), 20u);
    EXPECT_EQ(commands[0], spucmd::kSetColor);
    EXPECT_EQ(commands[3], spucmd::kSetContrast);
    EXPECT_EQ(Bytes(commands.begin() + 6, commands.begin() + 13),
              (Bytes{spucmd::kSetDisplayArea, 0x06, 0x40, 0x8B, 0x0C, 0x80, 0xD1}));
    EXPECT_EQ(commands[13], spucmd::kSetPixelAddresses);
    EXPECT_EQ(readBe16(commands, 14), 4);
    std::size_t topSize = 0;
    for (int y = 0; y < 10; y += 2) topSize += encodeRleLine(bitmap, y).size();
    EXPECT_EQ(readBe16(commands, 16), 4 + topSize);
    EXPECT_EQ(commands[18], spucmd::kStartDisplay);
    EXPECT_EQ(commands[19], spucmd::kEnd);
}

// ---------------------------------------------------------- against ffprobe

namespace {

class FfmpegSamples : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!tools::haveProgram("ffprobe") || !tools::haveProgram("ffmpeg")) return;
        dir_ = new tools::TempDir("psb-test");
        const std::string quiet = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
        const std::string tone = "-f lavfi -i 'aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=48000:d=0.6' ";
        const std::vector<std::pair<std::string, std::string>> jobs = {
            {"v.m2v", "-f lavfi -i testsrc=size=720x480:rate=25 -frames 10 -c:v mpeg2video -g 6 -bf 2 -f mpeg2video"},
            {"v.h264", "-f lavfi -i testsrc=size=640x360:rate=25 -frames 10 -pix_fmt yuv420p -c:v libx264 "
                       "-bf 0 -x264-params aud=1:keyint=12:repeat-headers=1 -f h264"},
            {"a.ac3", tone + "-c:a ac3 -f ac3"},
            {"a.eac3", tone + "-c:a eac3 -f eac3"},
            {"a.dts", tone + "-c:a dca -strict -2 -f dts"},
            {"a.thd", tone + "-c:a truehd -strict -2 -f truehd"},
            {"a.pcm", tone + "-f s16be"},
        };
        for (const auto& [name, args] : jobs)
            if (tools::run(quiet + args + " " + tools::shellQuote(dir_->file(name))) != 0) failed_ += name + " ";
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
    static std::string file(const std::string& name) { return dir_->file(name); }
    static Bytes sample(const std::string& name) { return readFile(file(name)); }

    static inline tools::TempDir* dir_ = nullptr;
    static inline std::string failed_;
};

int count(const tools::ProbedStreams& s, const std::string& id) {
    return s.count(id) ? std::stoi(s.at(id).at("nb_read_packets")) : -1;
}

}  // namespace

TEST_F(FfmpegSamples, SplittersAgreeWithFfprobeFrameCounts) {
    ASSERT_EQ(failed_, "");
    const std::vector<std::pair<std::string, std::size_t>> audio = {
        {"a.ac3", es::splitAc3(sample("a.ac3"), 0).size()},
        {"a.eac3", es::splitAc3(sample("a.eac3"), 0).size()},
        {"a.dts", es::splitDts(sample("a.dts"), 0).size()},
        {"a.thd", es::splitTrueHd(sample("a.thd"), 0).size()},
    };
    for (const auto& [name, units] : audio) {
        const auto probed = tools::probeStreams(file(name));
        ASSERT_EQ(probed.size(), 1u) << name;
        EXPECT_EQ(std::stoul(probed.begin()->second.at("nb_read_packets")), units) << name;
    }
    // MPEG-2 with B pictures: display times are the frame grid, decode times trail them.
    const auto pictures = es::splitMpeg2Video(sample("v.m2v"), 90000, 3600);
    ASSERT_EQ(pictures.size(), 10u);
    std::vector<uint64_t> pts;
    for (const auto& p : pictures) {
        pts.push_back(*p.pts);
        EXPECT_LE(ElementaryStream::decodeTime(p), *p.pts);
    }
    std::sort(pts.begin(), pts.end());
    for (std::size_t k = 0; k < pts.size(); ++k) EXPECT_EQ(pts[k], 90000 + k * 3600);
    EXPECT_TRUE(pictures[0].keyframe);
    const auto h264 = es::splitH264(sample("v.h264"), 90000, 3600);
    ASSERT_EQ(h264.size(), 10u);
    EXPECT_TRUE(h264[0].keyframe);
    EXPECT_FALSE(h264[1].keyframe);
}

TEST_F(FfmpegSamples, FfprobeReadsADvdVideoObject) {
    ASSERT_EQ(failed_, "");
    const Bytes m2v = sample("v.m2v");
    const auto ac3 = es::splitAc3(sample("a.ac3"), 90000);
    AccessUnit spu;
    spu.data = SubpictureUnit().bitmap(Bitmap::testPattern(200, 40)).position(260, 400).duration(90000).build();
    spu.pts = 93600;
    MuxOptions options;
    options.navLayout = NavLayout::Vob;
    options.vobuSeconds = 0.1;
    const Bytes vob = muxProgramStream({ElementaryStream::video(0xE0, es::splitMpeg2Video(m2v, 90000, 3600)),
                                        ElementaryStream::audio(0x80, ac3), ElementaryStream::subpicture(0x20, {spu})},
                                       options);
    const std::string path = file("dvd.vob");
    writeFile(path, vob);

    for (std::size_t at = 0; at < vob.size(); at += kPackSize) ASSERT_EQ(readBe32(vob, at), 0x000001BAu) << at;

    const auto s = tools::probeStreams(path);
    ASSERT_TRUE(s.count("0x1e0") && s.count("0x80") && s.count("0x20")) << s.size();
    EXPECT_EQ(s.at("0x1e0").at("codec_name"), "mpeg2video");
    EXPECT_EQ(s.at("0x1e0").at("width"), "720");
    EXPECT_EQ(s.at("0x1e0").at("height"), "480");
    EXPECT_EQ(s.at("0x80").at("codec_name"), "ac3");
    EXPECT_EQ(s.at("0x80").at("channels"), "2");
    EXPECT_EQ(s.at("0x20").at("codec_name"), "dvd_subtitle");
    EXPECT_EQ(count(s, "0x1e0"), 10);
    EXPECT_EQ(count(s, "0x80"), static_cast<int>(ac3.size()));
    EXPECT_GE(count(s, "0x1bf"), 2);  // one navigation pack per VOBU (GOPs of 6 pictures)

    // All of the video payload arrives: the packet sizes add up to the elementary stream.
    const std::string sizes = tools::capture("ffprobe -v error -select_streams v -show_entries packet=size -of csv=p=0 " +
                                             tools::shellQuote(path));
    std::size_t total = 0;
    for (std::size_t p = 0; p < sizes.size();) {
        const std::size_t e = sizes.find('\n', p);
        total += std::stoul(sizes.substr(p, e - p));
        p = e == std::string::npos ? sizes.size() : e + 1;
    }
    EXPECT_EQ(total, m2v.size());

    // The subpicture unit decodes: one bitmap at 1.04 s, shown for 88 x 1024 ticks (1001 ms).
    const std::string frames = tools::capture(
        "ffprobe -v error -select_streams s -show_frames -show_entries frame=pts,num_rects,end_display_time "
        "-of flat " + tools::shellQuote(path));
    EXPECT_NE(frames.find("frames.subtitle.0.pts=1040000"), std::string::npos) << frames;
    EXPECT_NE(frames.find("frames.subtitle.0.num_rects=1"), std::string::npos) << frames;
    EXPECT_NE(frames.find("frames.subtitle.0.end_display_time=1001"), std::string::npos) << frames;
}

TEST_F(FfmpegSamples, FfprobeReadsEveryHdDvdFamily) {
    ASSERT_EQ(failed_, "");
    Bytes vc1 = Vc1SequenceHeader().build();
    const Bytes entry = vc1EntryPoint();
    vc1.insert(vc1.end(), entry.begin(), entry.end());
    for (int k = 0; k < 6; ++k) {
        const Bytes f = vc1Frame(4000, k == 0, static_cast<uint8_t>(k));
        vc1.insert(vc1.end(), f.begin(), f.end());
    }
    ElementaryStream lpcm = ElementaryStream::audio(0xA4, es::splitLpcm(sample("a.pcm"), 2, 48000, 90000));
    lpcm.lpcmHeader = es::lpcmHeader16(48000, 2);
    lpcm.granule = 4;
    MuxOptions options;
    options.navLayout = NavLayout::Evo;
    options.muxRate = kHdDvdMuxRate;
    options.programStreamMap = ProgramStreamMap().addStream(stype::kH264, 0xE3);
    const Bytes evo = muxProgramStream(
        {ElementaryStream::vc1(sidext::kVc1Primary, es::splitVc1(vc1, 90000, 3754)),
         ElementaryStream::video(0xE3, es::splitH264(sample("v.h264"), 90000, 3600)),
         ElementaryStream::audio(0xC1, es::splitAc3(sample("a.eac3"), 90000)),
         ElementaryStream::audio(0x8A, es::splitDts(sample("a.dts"), 90000)),
         ElementaryStream::audio(0xB3, es::splitTrueHd(sample("a.thd"), 90000)), lpcm},
        options);
    const std::string path = file("hd.evo");
    writeFile(path, evo);

    const auto s = tools::probeStreams(path);
    const std::map<std::string, std::string> codecs = {{"0xfd55", "vc1"}, {"0x1e3", "h264"}, {"0xc1", "eac3"},
                                                       {"0x8a", "dts"},   {"0xb3", "truehd"}, {"0xa4", "pcm_dvd"}};
    for (const auto& [id, codec] : codecs) {
        ASSERT_TRUE(s.count(id)) << id;
        EXPECT_EQ(s.at(id).at("codec_name"), codec) << id;
    }
    EXPECT_EQ(s.at("0xfd55").at("width"), "1920");
    EXPECT_EQ(s.at("0xfd55").at("height"), "1080");
    EXPECT_EQ(s.at("0x1e3").at("width"), "640");
    EXPECT_EQ(count(s, "0x1e3"), 10);
    EXPECT_EQ(count(s, "0xfd55"), 6);
    for (const char* id : {"0xc1", "0x8a", "0xb3", "0xa4"}) {
        EXPECT_EQ(s.at(id).at("channels"), "2") << id;
        EXPECT_EQ(s.at(id).at("sample_rate"), "48000") << id;
    }
}

// ---------------------------------------------------------------- demo disc

TEST(DemoDisc, GeneratorWritesTwoReadableFeatureFilesAndAPlaylist) {
    if (!tools::haveProgram("ffprobe") || !tools::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const tools::TempDir dir("halyard-demo-test");
    ASSERT_EQ(tools::run(tools::shellQuote(HALYARD_DEMO_GENERATOR_PATH) + " " + tools::shellQuote(dir.path().string()) +
                         " >/dev/null"),
              0);
    const bool haveX264 = tools::run("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264") == 0;
    const std::map<std::string, std::string> shared = {{"0x1e0", "mpeg2video"}, {"0x80", "ac3"}, {"0xc1", "eac3"},
                                                       {"0x8a", "dts"},        {"0xb3", "truehd"}, {"0xa4", "pcm_dvd"},
                                                       {"0x20", "dvd_subtitle"}};
    std::vector<uint32_t> startPtm, endPtm;
    for (int part = 1; part <= 2; ++part) {
        const std::string path = (dir.path() / "HVDVD_TS" / ("FEATURE_" + std::to_string(part) + ".EVO")).string();
        SCOPED_TRACE(path);
        const Bytes evo = readFile(path);
        ASSERT_EQ(evo.size() % kPackSize, 0u);
        EXPECT_GT(evo.size(), 2u << 20);
        EXPECT_LT(evo.size(), 8u << 20);
        for (std::size_t at = 0; at < evo.size(); at += kPackSize) ASSERT_EQ(readBe32(evo, at), 0x000001BAu) << at;

        const auto s = tools::probeStreams(path, "-f mpeg");
        for (const auto& [id, codec] : shared) {
            ASSERT_TRUE(s.count(id)) << id;
            EXPECT_EQ(s.at(id).at("codec_name"), codec) << id;
        }
        const std::string second = part == 1 && haveX264 ? "0x1e3" : "0xfd56";
        ASSERT_TRUE(s.count(second)) << second;
        EXPECT_EQ(s.at(second).at("codec_name"), part == 1 && haveX264 ? "h264" : "vc1");
        EXPECT_EQ(s.at("0x80").at("channels"), "6");

        // First pack: system header bounds, then the DSI of the HD DVD layout.
        EXPECT_EQ(evo[23] >> 2, 5);
        EXPECT_EQ(evo[24] & 0x1F, 2);
        const std::size_t dsi = NavPack().layout(NavLayout::HdDvd).dsiDataOffset();
        EXPECT_EQ(readBe16(evo, dsi + dsi::kVobNumber), part);
        startPtm.push_back(readBe32(evo, dsi + dsi::kStartPtm));
        endPtm.push_back(readBe32(evo, dsi + dsi::kEndPtm));
        int audio = 0;
        for (std::size_t k = 0; k < dsi::kAudioSyncCount; ++k) audio += readBe16(evo, dsi + dsi::kAudioSyncEvo + 2 * k) != 0;
        EXPECT_EQ(audio, 5);
    }
    EXPECT_EQ(startPtm[0], 90000u);
    EXPECT_EQ(startPtm[1], endPtm[0]);  // the second file continues the first
    EXPECT_NEAR((endPtm[1] - startPtm[0]) / 90000.0, 10.56, 0.001);

    const Bytes xpl = readFile((dir.path() / "ADV_OBJ" / "VPLST000.XPL").string());
    const std::string text(xpl.begin(), xpl.end());
    EXPECT_NE(text.find("FEATURE_1"), std::string::npos);
    EXPECT_NE(text.find("FEATURE_2"), std::string::npos);
    EXPECT_NE(text.find("<TitleSet timeBase="), std::string::npos);
}
