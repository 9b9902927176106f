// Rebuild: the id map, the pack rewrites, and the job over files made with the builder.
#include "EngineFixture.h"

#include <algorithm>
#include <random>
#include <set>

#include "jobs/Jobs.h"
#include "jobs/Paths.h"
#include "model/Error.h"
#include "rebuild/Rebuild.h"

namespace halyard::test {
namespace {

using psb::Pes;

// The ids of one codec: a kept stream's new id stays among them.
uint8_t CodecRange(RebuildKind kind, uint8_t id) {
    if (kind == RebuildKind::Video)
        return id == 0x55 || id == 0x56 ? 0x55 : uint8_t(id & 0xFE);
    if (kind == RebuildKind::Subpicture)
        return uint8_t(id & 0xF0);
    return (id & 0xF0) == 0xC0 ? 0xC0 : uint8_t(id & 0xF8);
}

TEST(RebuildIdMap, NumbersPerKindInOrderOfFirstKeep) {
    RebuildIdMap map;
    EXPECT_EQ(map.keep(RebuildKind::Audio, 0x82), 0x80); // the first AC-3 stream
    EXPECT_EQ(map.keep(RebuildKind::Audio, 0x89), 0x89); // DTS after it: 0x88 | 1
    EXPECT_EQ(map.keep(RebuildKind::Audio, 0x82), 0x80);
    EXPECT_EQ(map.keep(RebuildKind::Audio, 0xC7), 0xC2);
    EXPECT_EQ(map.keep(RebuildKind::Video, 0xE1), 0xE0);
    EXPECT_EQ(map.keep(RebuildKind::Video, 0x55), 0x56); // 0x55 + 1
    EXPECT_EQ(map.keep(RebuildKind::Subpicture, 0x23), 0x20);
    EXPECT_EQ(map[0x30], RebuildIdMap::Unassigned);
}

// More kept streams than a codec has low bits for: every new id unique and of its codec.
TEST(RebuildIdMap, ManyKeptStreamsNeverCollideNorChangeCodec) {
    std::vector<std::pair<RebuildKind, uint8_t>> ids;
    for (int id = 0x80; id <= 0x8F; ++id)
        ids.emplace_back(RebuildKind::Audio, uint8_t(id));
    for (int id = 0xA0; id <= 0xB7; ++id)
        ids.emplace_back(RebuildKind::Audio, uint8_t(id));
    for (int id = 0xC0; id <= 0xCF; ++id)
        ids.emplace_back(RebuildKind::Audio, uint8_t(id));
    for (int id : {0xE0, 0xE1, 0xE2, 0xE3, 0x55, 0x56})
        ids.emplace_back(RebuildKind::Video, uint8_t(id));
    for (int id = 0x20; id <= 0x2F; ++id)
        ids.emplace_back(RebuildKind::Subpicture, uint8_t(id)), ids.emplace_back(RebuildKind::Subpicture, uint8_t(id + 0x40));
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        std::shuffle(ids.begin(), ids.end(), random);
        RebuildIdMap map;
        std::set<uint8_t> given;
        for (auto [kind, id] : ids) {
            const uint8_t newId = map.keep(kind, id);
            EXPECT_EQ(CodecRange(kind, newId), CodecRange(kind, id)) << "seed " << seed << " id " << int(id);
            EXPECT_TRUE(given.insert(newId).second) << "seed " << seed << " id " << int(id);
        }
    }
}

psb::Bytes Audio(uint8_t substream, uint8_t seed = 1) {
    return psb::packWith(Pes(psb::sid::kPrivateStream1).substream(substream).pts(90000).payload(Filled(900, seed)));
}
psb::Bytes Vc1(uint8_t extension) {
    return psb::packWith(Pes(psb::sid::kExtendedStreamId).streamIdExtension(extension).pstd(true, 80).pts(90000).dts(87000).payload(Filled(900, 3)));
}
psb::Bytes NavPack(uint8_t audioBound, uint8_t videoBound, uint32_t start, uint32_t end, size_t audioSync,
                   size_t subpictureSync, psb::NavLayout layout = psb::NavLayout::HdDvd) {
    psb::NavPack nav;
    psb::SystemHeader header = psb::SystemHeader::dvd(audioBound, videoBound);
    nav.layout(layout).systemHeader(header.fixedFlag(true).audioLock(false)).startPtm(start).endPtm(end);
    for (size_t i = 0; i < audioSync; ++i)
        nav.audioSync(i, uint16_t(0x100 + i));
    for (size_t i = 0; i < subpictureSync; ++i)
        nav.subpictureSync(i, uint32_t(0x2000 + i));
    return nav.build();
}

// Keeps each pack that the rebuilder keeps, as it rewrote it.
std::vector<psb::Bytes> Rebuilt(PackRebuilder& rebuilder, std::vector<psb::Bytes> packs) {
    std::vector<psb::Bytes> kept;
    for (psb::Bytes& pack : packs)
        if (rebuilder.rebuildPack(pack.data(), pack.size()))
            kept.push_back(pack);
    return kept;
}

TEST(RebuildPacks, DropsUntickedStreamsRenumbersKeptOnesAndCopiesUnknownOnes) {
    RebuildSelection selection;
    selection.VideoIds = {0xE0, 0x56};
    selection.VideoTicked = {false, true};
    selection.AudioIds.fill(-1);
    selection.AudioIds[0] = 0x80, selection.AudioIds[1] = 0x81, selection.AudioIds[3] = 0x83;
    selection.AudioTicked[1] = selection.AudioTicked[3] = true;
    selection.SubpictureIds.fill(-1);
    PackRebuilder rebuilder(selection, 0x1000, 0x9000);

    psb::Bytes stuffed = psb::Pack().header(psb::PackHeader().stuffing(3)).add(Pes(0xBD).substream(0x80).payload(Filled(50, 1)).build()).build();
    const psb::Bytes audio81 = Audio(0x81);
    psb::Bytes notAPack = audio81;
    notAPack[3] = 0xBB;
    const psb::Bytes lastPiece(audio81.begin(), audio81.begin() + 700);
    const auto kept = Rebuilt(rebuilder, {Audio(0x80), stuffed, Audio(0x83), Audio(0x81), Audio(0x85), Audio(0x90), Vc1(0x56),
                                          Vc1(0x71), psb::packWith(Pes(0xE0).payload(Filled(100, 2))), notAPack, lastPiece,
                                          psb::Bytes(lastPiece.begin() + 1, lastPiece.end())});
    // 0x83 first and 0x81 after it become 0x80 and 0x81; 0x85 in no slot is kept as 0x82.
    EXPECT_EQ(kept, (std::vector<psb::Bytes>{Audio(0x80), Audio(0x81), Audio(0x82), Audio(0x90), Vc1(0x55), Vc1(0x71), lastPiece}));
}

TEST(RebuildPacks, SystemHeaderBoundsAndDsiFollowTheTickedBoxes) {
    RebuildSelection selection;
    selection.VideoTicked = {false, true}; // the second box alone: a video bound of 1
    selection.AudioTicked[4] = selection.AudioTicked[9] = true;
    selection.SubpictureTicked[0] = true;
    PackRebuilder rebuilder(selection, 0x1000, 0x9000);
    const auto kept = Rebuilt(rebuilder, {NavPack(5, 2, 0x2000, 0x3000, 8, 18), NavPack(5, 2, 0x2000, 0x3000, 8, 18, psb::NavLayout::Vob)});
    ASSERT_EQ(kept.size(), 2u);
    // Audio addresses from 2 on and subpicture addresses 1 to 15 are zeroed; 16 and 17 stay.
    psb::NavPack expected;
    psb::SystemHeader header = psb::SystemHeader::dvd(2, 1);
    expected.layout(psb::NavLayout::HdDvd).systemHeader(header.fixedFlag(true).audioLock(false)).startPtm(0x1000).endPtm(0x9000);
    expected.audioSync(0, 0x100).audioSync(1, 0x101).subpictureSync(0, 0x2000).subpictureSync(16, 0x2010).subpictureSync(17, 0x2011);
    EXPECT_EQ(kept[0], expected.build());
    EXPECT_EQ(kept[1], NavPack(2, 1, 0x2000, 0x3000, 8, 18, psb::NavLayout::Vob)); // no HD DVD DSI: bounds only

    PackRebuilder none(RebuildSelection{}, 0x1000, 0x9000);
    EXPECT_EQ(Rebuilt(none, {NavPack(5, 2, 0x2000, 0x3000, 8, 16)}).front(), NavPack(0, 0, 0x1000, 0x9000, 0, 0));
}

// A window whose event pump runs what the test asks: a Cancel, a click on another job.
class PumpUi : public RecordingUi {
public:
    std::function<void()> onPump;
    void pumpEvents() override {
        RecordingUi::pumpEvents();
        if (onPump)
            onPump();
    }
};

struct RebuildRun {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    PumpUi ui;
    Jobs jobs{*state, ui};
    TempDir dir;

    RebuildRun() { InstallRebuildJob(jobs, *state, ui); }
    std::string file(const std::string& name, const psb::Bytes& data) {
        psb::writeFile(dir.file(name), data);
        return dir.file(name);
    }
    void read(const std::string& path) {
        ui.eEVOfile = path;
        jobs.EVOadj();
        jobs.bReadEVOClick();
    }
    void expectIdle() {
        EXPECT_FALSE(state->BusyFlag);
        EXPECT_FALSE(ui.bCancel.enabled);
        EXPECT_FALSE(jobs.jobRunning());
        EXPECT_EQ(state->SourceStream, nullptr);
        EXPECT_TRUE(ui.bRebuild.enabled && ui.bDemux.enabled);
    }
};

// A navigation pack, then one pack of each audio substream with the payload `seed`.
psb::Bytes Feature(uint32_t start, uint32_t end, std::initializer_list<uint8_t> audio, uint8_t seed) {
    psb::Bytes all = NavPack(1, 1, start, end, 1, 0);
    all = Cat({all, psb::packWith(Pes(0xE0).pts(start).payload(Filled(500, seed)))});
    for (uint8_t substream : audio)
        all = Cat({all, Audio(substream, seed)});
    return all;
}

// A file's bytes, as text that sorts.
std::string Content(const fs::path& path) { return psb::tools::readText(path.string()); }

// The contents of every elementary stream file in `folder`, sorted.
std::vector<std::string> Outputs(const fs::path& folder) {
    std::vector<std::string> all;
    for (const auto& entry : fs::directory_iterator(folder))
        all.push_back(Content(entry.path()));
    std::sort(all.begin(), all.end());
    return all;
}

TEST(RebuildJob, JoinsTheSecondFeatureFileWithOneIdMapAndLogsEachStep) {
    RebuildRun run;
    const std::string first = run.file("FEATURE_1.EVO", Feature(0x1000, 0x2000, {0x83}, 1));
    run.file("FEATURE_2.EVO", Feature(0x2000, 0x3000, {0x81, 0x83}, 2));
    fs::create_directories(run.dir.file("out"));
    run.ui.eWorkdir = run.dir.file("out");
    run.ui.autoProcess = AutoProcess::Rebuild;
    run.read(first);
    const std::string out = run.dir.file("out") + PathSeparator + "FEATURE_1_FEATURE_2.rebuilt.EVO";
    const std::vector<std::string> tail(run.ui.lines.end() - 8, run.ui.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Opening file [b]FEATURE_1.EVO[/b]", "File size: 0 Mbytes.", "Creating " + out,
                                              "Rebuilding...", "Continue on [b]FEATURE_2.EVO[/b]", "Rebuilding...", "Done.", ""}));
    EXPECT_EQ(run.ui.status[0].back(), "Ready");
    run.expectIdle();

    // 0x83 came first, in the first file: 0x80 in both files; 0x81 after it: 0x81.
    RebuildRun again;
    again.read(out);
    again.jobs.bDemuxClick();
    EXPECT_EQ(again.state->Catalogue.AudioType[0], 0x80);
    const std::string prefix = run.dir.file("out") + PathSeparator + "FEATURE_1_FEATURE_2.rebuilt.";
    EXPECT_EQ(ReadAll(prefix + "DD.stream.00.mpa"), Cat({Filled(900, 1), Filled(900, 2)}));
    EXPECT_EQ(ReadAll(prefix + "DD.stream.01.mpa"), Filled(900, 2));
    // Every navigation pack carries the start of the first file and the end of the last.
    const psb::Bytes rebuilt = ReadAll(out);
    ASSERT_EQ(rebuilt.size(), 7 * psb::kPackSize);
    for (size_t at : {size_t(0), size_t(3 * psb::kPackSize)}) {
        EXPECT_EQ(psb::readBe32(rebuilt, at + 1338), 0x1000u);
        EXPECT_EQ(psb::readBe32(rebuilt, at + 1342), 0x3000u);
    }
}

// Streams of every kind, all from the same first time stamp, so that the subpicture
// records, relative to the earliest one, do not depend on which streams are kept.
psb::Bytes MixedStreams() {
    auto units = [](size_t count, size_t size, uint8_t seed, uint64_t step) {
        std::vector<psb::AccessUnit> all(count);
        for (size_t i = 0; i < count; ++i) {
            all[i].data = Filled(size + i * 37 % 500, uint8_t(seed + i));
            all[i].pts = 90000 + i * step;
            all[i].keyframe = i % 12 == 0;
        }
        return all;
    };
    std::vector<psb::ElementaryStream> streams{
        psb::ElementaryStream::video(0xE0, units(60, 3000, 1, 3600)), psb::ElementaryStream::vc1(0x56, units(30, 2500, 2, 7200)),
        psb::ElementaryStream::audio(0x80, units(40, 700, 3, 2880)), psb::ElementaryStream::audio(0x81, units(40, 900, 4, 2880)),
        psb::ElementaryStream::audio(0x8A, units(40, 1000, 5, 2880)), psb::ElementaryStream::audio(0xC4, units(40, 600, 6, 2880)),
        psb::ElementaryStream::subpicture(0x20, units(5, 400, 7, 40000)), psb::ElementaryStream::subpicture(0x21, units(5, 2500, 8, 40000))};
    psb::MuxOptions options;
    options.navLayout = psb::NavLayout::HdDvd;
    options.muxRate = psb::kHdDvdMuxRate;
    return psb::muxProgramStream(streams, options);
}

// Demuxing the rebuilt file gives exactly the kept streams' files of the source, byte for byte.
TEST(RebuildJob, DemuxOfTheRebuiltFileHoldsTheKeptStreamsByteForByte) {
    RebuildRun run;
    const std::string source = run.file("MIX.EVO", MixedStreams());
    fs::create_directories(run.dir.file("all"));
    run.ui.eWorkdir = run.dir.file("all");
    run.read(source);
    run.jobs.bDemuxClick();
    run.ui.eWorkdir = "";
    std::vector<StreamBox*> boxes;
    for (auto* group : {&run.ui.cbAudio, &run.ui.cbSub})
        for (StreamBox& box : *group)
            if (box.ticked)
                boxes.push_back(&box);
    ASSERT_EQ(boxes.size(), 6u);
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        std::vector<std::string> expected;
        run.ui.cbVideo[1].ticked = random() % 2;
        for (StreamBox* box : boxes)
            box->ticked = random() % 2;
        for (const auto& entry : fs::directory_iterator(run.dir.file("all"))) {
            const std::string name = entry.path().filename().string();
            bool kept = name.find("MPEG-2") != std::string::npos || (run.ui.cbVideo[1].ticked && name.find("VC-1") != std::string::npos);
            for (StreamBox* box : boxes)
                kept = kept || (box->ticked && name == "MIX." + box->caption + "." + (box->caption[0] == 'S' ? "sup" : "mpa"));
            if (kept)
                expected.push_back(Content(entry.path()));
        }
        std::sort(expected.begin(), expected.end());
        run.jobs.bRebuildClick();

        const psb::Bytes rebuilt = ReadAll(run.dir.file("MIX.rebuilt.EVO"));
        ASSERT_EQ(rebuilt.size() % psb::kPackSize, 0u);
        for (size_t at = 0; at < rebuilt.size(); at += psb::kPackSize)
            ASSERT_EQ(psb::readBe32(rebuilt, at), 0x000001BAu) << "pack at " << at;
        RebuildRun again;
        fs::create_directories(again.dir.file("out"));
        again.ui.eWorkdir = again.dir.file("out");
        again.read(run.dir.file("MIX.rebuilt.EVO"));
        again.jobs.bDemuxClick();
        EXPECT_EQ(Outputs(again.dir.file("out")), expected) << "seed " << seed;
    }
}

TEST(RebuildJob, CancelEndsTheFileAtAPackBoundaryAndNothingElseStartsMeanwhile) {
    RebuildRun run;
    psb::PsStream big;
    big.append(Feature(0x1000, 0x2000, {0x80}, 1)).padPacksTo(6 * 1024 * 1024);
    const std::string first = run.file("FEATURE_1.EVO", big.bytes());
    run.file("FEATURE_2.EVO", Feature(0x2000, 0x3000, {0x80}, 2));
    run.ui.cbFastCheck = false;
    run.read(first);
    const size_t linesBefore = run.ui.lines.size();
    run.ui.onPump = [&] {
        run.jobs.bReadEVOClick();
        run.jobs.bDemuxClick();
        run.jobs.bRebuildClick();
        run.jobs.WMDropFiles({run.dir.file("FEATURE_2.EVO")});
        run.state->CancelFlag = true;
    };
    run.jobs.bRebuildClick();
    EXPECT_EQ(run.ui.status[1].end()[-2].rfind("Rebuilding FEATURE_1.EVO 4/6 Mbytes, Remaining time: 0:00:0", 0), 0u);
    EXPECT_EQ(fs::file_size(run.dir.file("FEATURE_1_FEATURE_2.rebuilt.EVO")), 4u * 1024 * 1024);
    // One job's lines, without the second file.
    const std::vector<std::string> lines(run.ui.lines.begin() + long(linesBefore), run.ui.lines.end());
    EXPECT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.front(), "Opening file [b]FEATURE_1.EVO[/b]");
    EXPECT_EQ(lines.end()[-2], "Done.");
    EXPECT_EQ(run.ui.eEVOfile, first);
    run.expectIdle();
}

TEST(RebuildJob, FailuresCloseTheFilesAndLeaveTheWindowIdle) {
    RebuildRun run;
    const psb::Bytes first = Feature(0x1000, 0x2000, {0x80}, 1);
    run.file("FEATURE_2.EVO", Feature(0x2000, 0x3000, {0x80}, 2));
    run.read(run.file("FEATURE_1.EVO", first));
    auto failure = [&](const std::string& folder) -> std::string {
        run.ui.eWorkdir = run.dir.file(folder);
        try {
            run.jobs.bRebuildClick();
        } catch (const Error& error) {
            run.expectIdle();
            EXPECT_NE(run.ui.lines.back(), "");
            return error.what();
        }
        return "no error";
    };
    const std::string name = "FEATURE_1_FEATURE_2.rebuilt.EVO";
    auto output = [&](const std::string& folder) { return run.dir.file(folder) + PathSeparator + name; };
    EXPECT_EQ(failure("missing"), "Cannot create file \"" + output("missing") + "\". No such file or directory");
    fs::create_directories(run.dir.file("full"));
    fs::create_symlink("/dev/full", output("full"));
    EXPECT_EQ(failure("full").rfind("Stream write error \"" + output("full") + "\". ", 0), 0u);

    // An output that is the source or the second feature file under another name is refused
    // before anything is written.
    fs::create_directories(run.dir.file("links"));
    fs::create_symlink("../FEATURE_1.EVO", output("links"));
    EXPECT_EQ(failure("links"),
              "Cannot create file \"" + output("links") + "\". It is the source file \"" + run.ui.eEVOfile + "\"");
    fs::remove(output("links"));
    fs::create_hard_link(run.dir.file("FEATURE_2.EVO"), output("links"));
    EXPECT_EQ(failure("links").rfind("Cannot create file \"" + output("links") + "\". It is the source file \"", 0), 0u);
    EXPECT_EQ(ReadAll(run.dir.file("FEATURE_1.EVO")), first);
    EXPECT_EQ(ReadAll(run.dir.file("FEATURE_2.EVO")), Feature(0x2000, 0x3000, {0x80}, 2));

    run.ui.eEVOfile = run.dir.file("gone.EVO");
    EXPECT_EQ(failure(""), "Cannot open file \"" + run.dir.file("gone.EVO") + "\". No such file or directory");
}

} // namespace
} // namespace halyard::test
