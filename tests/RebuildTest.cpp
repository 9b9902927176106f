// Rebuild: the id map, the pack rewrites, the job and halyard-cli rebuild over files made
// with the builder and with ffmpeg, checked by demuxing the result and by ffprobe/ffmpeg.
#include "EngineFixture.h"

#include <algorithm>
#include <random>
#include <set>

#include "jobs/Jobs.h"
#include "jobs/Paths.h"
#include "model/Error.h"
#include "model/platform/Platform.h"
#include "rebuild/Rebuild.h"

namespace halyard::test {
namespace {

using psb::Pes;

// Kept streams are numbered per kind in the order of their first keep, each in the
// lowest slot no other kept stream of its kind has, within its own codec.
TEST(RebuildIdMap, NumbersInOrderOfFirstKeepOneSlotPerStreamWithinTheCodec) {
    RebuildIdMap map;
    EXPECT_EQ(map.keep(0x82), 0x80); // the first AC-3 stream
    EXPECT_EQ(map.keep(0x89), 0x89); // a DTS stream after it: slot 1
    EXPECT_EQ(map.keep(0x82), 0x80);
    EXPECT_EQ(map.keep(0xE1), 0xE0);
    EXPECT_EQ(map.keep(0x55), 0x56); // VC-1 after MPEG-2: slot 1
    EXPECT_EQ(map.keep(0xE3), RebuildIdMap::Unassigned); // a third video stream has no slot
    EXPECT_EQ(map.keep(0x23), 0x20);

    // In any order, no two kept streams of a kind share a slot, every new id is of the
    // stream's codec, and a stream gets none only when its codec's slots are all taken.
    std::vector<uint8_t> ids;
    for (int id = 0; id < 256; ++id)
        if (CodecOfId(uint8_t(id)) && !(id >= 0x30 && id <= 0x3F) && !(id >= 0x70 && id <= 0x7F))
            ids.push_back(uint8_t(id));
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::shuffle(ids.begin(), ids.end(), std::mt19937(seed));
        RebuildIdMap shuffled;
        std::set<std::pair<int, int>> slots;
        for (uint8_t id : ids) {
            const uint8_t newId = shuffled.keep(id);
            const StreamCodec& codec = *CodecOfId(id);
            if (newId == RebuildIdMap::Unassigned) {
                for (unsigned slot = 0; slot < RebuildIdMap::slotsOf(codec); ++slot)
                    EXPECT_TRUE(slots.count({int(codec.kind), int(slot)})) << "seed " << seed << " id " << int(id);
                continue;
            }
            EXPECT_EQ(CodecOfId(newId), &codec) << "seed " << seed << " id " << int(id);
            EXPECT_TRUE(slots.insert({int(codec.kind), SlotOfId(newId)}).second) << "seed " << seed << " id " << int(id);
        }
    }
}

// The plan numbers what Read EVO found all at once: streams of a codec with 16 slots
// make room for the ones with 8 that come after them; more streams than slots fail.
TEST(RebuildIdMap, PlanLeavesRoomForCodecsWithFewerSlotsAndRefusesTooMany) {
    RebuildIdMap map;
    std::vector<uint8_t> audio;
    for (uint8_t id = 0xC0; id < 0xC8; ++id)
        audio.push_back(id); // 8 Dolby Digital Plus first
    for (uint8_t id = 0x80; id < 0x88; ++id)
        audio.push_back(id); // then 8 AC-3
    EXPECT_TRUE(map.plan(audio).empty());
    std::set<int> slots;
    for (uint8_t id : audio)
        slots.insert(SlotOfId(map[id]));
    EXPECT_EQ(slots.size(), 16u);
    EXPECT_EQ(map[0x80], 0x80);
    EXPECT_EQ(map[0xC0], 0xC8);

    RebuildIdMap crowded;
    const std::vector<uint8_t> video{0xE0, 0xE3, 0x56, 0x80};
    EXPECT_EQ(crowded.plan(video), (std::vector<uint8_t>{0xE0, 0xE3, 0x56}));
    EXPECT_FALSE(crowded.assigned(0x80)); // nothing numbered
    EXPECT_TRUE(crowded.plan({0xE3, 0x56, 0x8A, 0x8A}).empty());
    EXPECT_EQ(std::vector<int>({crowded[0xE3], crowded[0x56], crowded[0x8A]}), std::vector<int>({0xE2, 0x56, 0x88}));
}

psb::Bytes Audio(uint8_t substream, uint8_t seed = 1) {
    return psb::packWith(Pes(psb::sid::kPrivateStream1).substream(substream).pts(90000).payload(Filled(900, seed)));
}
psb::Bytes Vc1(uint8_t extension) {
    return psb::packWith(
        Pes(0xFD).streamIdExtension(extension).pstd(true, 80).pts(90000).dts(87000).payload(Filled(900, 3)));
}
// An HD DVD navigation pack with the first `audioSync` and `subpictureSync` addresses set.
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

// The packs that the rebuilder keeps, as it rewrote them.
std::vector<psb::Bytes> Rebuilt(PackRebuilder& rebuilder, std::vector<psb::Bytes> packs) {
    std::vector<psb::Bytes> kept;
    for (psb::Bytes& pack : packs) {
        bool navigation = false;
        if (rebuilder.rebuildPack(pack.data(), pack.size(), navigation) != PackFate::Dropped)
            kept.push_back(pack);
    }
    return kept;
}

TEST(RebuildPacks, DropsUntickedStreamsRenumbersKeptOnesAndCopiesUnknownOnes) {
    RebuildSelection selection;
    selection.VideoFound = {true, true};
    selection.VideoTicked = {false, true};
    selection.AudioFound[0] = selection.AudioFound[1] = selection.AudioFound[3] = true;
    selection.AudioTicked[1] = selection.AudioTicked[3] = true;
    PackRebuilder rebuilder(selection, 0x1000, 0x9000);

    const psb::Bytes stuffed = psb::Pack() // pack_stuffing_length 3: the packet starts at byte 17
                                   .header(psb::PackHeader().stuffing(3))
                                   .add(Pes(0xBD).substream(0x80).payload(Filled(50, 1)).build())
                                   .build();
    psb::Bytes notAPack = Audio(0x81);
    notAPack[3] = 0xBB;
    const psb::Bytes lastPiece(notAPack.begin() + 1, notAPack.begin() + 700);
    psb::Bytes lastPack = Audio(0x81);
    lastPack.resize(700);
    // 0x83 first and 0x81 after it become 0x80 and 0x81; 0x85, in no slot, 0x82.
    EXPECT_EQ(Rebuilt(rebuilder, {Audio(0x80), stuffed, Audio(0x83), Audio(0x81), Audio(0x85), Audio(0x90), Vc1(0x56),
                                  Vc1(0x71), psb::packWith(Pes(0xE0).payload(Filled(100, 2))), notAPack, lastPack,
                                  lastPiece}),
              (std::vector<psb::Bytes>{Audio(0x80), Audio(0x81), Audio(0x82), Audio(0x90), Vc1(0x55), Vc1(0x71),
                                       lastPack}));
}

// The bounds count the ticked boxes. Each synchronisation entry stands for the stream
// in its index's slot of the file at hand and moves with it to its new slot; entries of
// dropped streams, and of slots without a stream, are left out.
TEST(RebuildPacks, SystemHeaderBoundsFollowTheBoxesAndSyncEntriesMoveWithTheirStreams) {
    RebuildSelection selection;
    selection.VideoFound = {true, true};
    selection.VideoTicked = {false, true}; // the second box alone: a video bound of 1
    for (size_t slot : {0, 1, 2, 3, 4})
        selection.AudioFound[slot] = true;
    selection.AudioTicked[2] = selection.AudioTicked[4] = true;
    selection.SubpictureFound[0] = selection.SubpictureFound[1] = true;
    selection.SubpictureTicked[1] = true;
    SourceStreamMap map;
    map.Catalogue.reset();
    map.Catalogue.AudioType = {0x80, 0x81, 0x8A, 0xA3, 0xC4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    map.Catalogue.SubpictureType[0] = 0x20;
    map.Catalogue.SubpictureType[1] = 0x21;
    map.Catalogue.SubpictureType[16] = 0x30;
    uint32_t order = 0;
    for (uint8_t id : {0xC4, 0x8A, 0x80, 0x81, 0xA3, 0x21, 0x20, 0x30}) // the order of first packs
        map.Tally.Streams[id] = {1, 100, ++order};
    PackRebuilder rebuilder(selection, 0x1000, 0x9000);
    ASSERT_TRUE(rebuilder.plan({&map}).empty());
    rebuilder.beginFile(&map);
    EXPECT_EQ(std::vector<int>({rebuilder.ids()[0xC4], rebuilder.ids()[0x8A], rebuilder.ids()[0x21]}),
              std::vector<int>({0xC0, 0x89, 0x20}));

    psb::NavPack expected;
    psb::SystemHeader header = psb::SystemHeader::dvd(2, 1);
    expected.layout(psb::NavLayout::HdDvd).systemHeader(header.fixedFlag(true).audioLock(false));
    expected.startPtm(0x1000).endPtm(0x9000).audioSync(0, 0x104).audioSync(1, 0x102);
    expected.subpictureSync(0, 0x2001).subpictureSync(16, 0x2010);
    const auto vob = psb::NavLayout::Vob; // no HD DVD DSI: the bounds only
    EXPECT_EQ(Rebuilt(rebuilder, {NavPack(5, 2, 0x2000, 0x3000, 8, 18), NavPack(5, 2, 0x2000, 0x3000, 8, 18, vob)}),
              (std::vector<psb::Bytes>{expected.build(), NavPack(2, 1, 0x2000, 0x3000, 8, 18, vob)}));

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
    void read(const std::string& path, const std::string& folder = "") {
        ui.eEVOfile = path;
        ui.eWorkdir = folder;
        if (!folder.empty())
            fs::create_directories(folder);
        jobs.EVOadj();
        jobs.bReadEVOClick();
    }
    // The file contents of every output in `folder` after a Demux, sorted.
    std::vector<std::string> demux(const std::string& folder) {
        ui.eWorkdir = folder;
        fs::create_directories(folder);
        jobs.bDemuxClick();
        std::vector<std::string> all;
        for (const auto& entry : fs::directory_iterator(folder))
            all.push_back(psb::tools::readText(entry.path().string()));
        std::sort(all.begin(), all.end());
        return all;
    }
    void expectIdle() {
        EXPECT_FALSE(state->BusyFlag);
        EXPECT_FALSE(ui.bCancel.enabled);
        EXPECT_FALSE(jobs.jobRunning());
        EXPECT_EQ(state->SourceStream, nullptr);
        EXPECT_TRUE(ui.bRebuild.enabled && ui.bDemux.enabled);
    }
};

// A navigation pack, a video pack, then one pack of each audio substream; the first
// audio stream's synchronisation entry points at its pack.
psb::Bytes Feature(uint32_t start, uint32_t end, std::initializer_list<uint8_t> audio, uint8_t seed) {
    psb::Bytes all = psb::NavPack()
                         .layout(psb::NavLayout::HdDvd)
                         .systemHeader(psb::SystemHeader::dvd(1, 1))
                         .startPtm(start)
                         .endPtm(end)
                         .audioSync(size_t(*audio.begin() & 7), 2)
                         .build();
    all = Cat({all, psb::packWith(Pes(0xE0).pts(start).payload(Filled(500, 1)))});
    for (uint8_t substream : audio)
        all = Cat({all, Audio(substream, seed)});
    return all;
}

TEST(RebuildJob, JoinsTheSecondFeatureFileWithOneIdMapAndLogsEachStep) {
    RebuildRun run;
    run.file("FEATURE_2.EVO", Feature(0x2000, 0x3000, {0x81, 0x83}, 2));
    run.ui.autoProcess = AutoProcess::Rebuild;
    run.read(run.file("FEATURE_1.EVO", Feature(0x1000, 0x2000, {0x83}, 1)), run.dir.file("out"));
    const std::string out = run.dir.file("out") + PathSeparator + "FEATURE_1_FEATURE_2.rebuilt.EVO";
    EXPECT_EQ(std::vector<std::string>(run.ui.lines.end() - 9, run.ui.lines.end()),
              (std::vector<std::string>{"Opening file [b]FEATURE_1.EVO[/b]", "File size: 0 Mbytes.", "Creating " + out,
                                        "Rebuilding...", "Continue on [b]FEATURE_2.EVO[/b]", "Rebuilding...",
                                        "Checking...", "Done.", ""}));
    EXPECT_EQ(run.ui.status[0].back(), "Ready");
    run.expectIdle();

    // 0x83 came first, in the first file: 0x80 in both files; 0x81 after it: 0x81. Every
    // navigation pack carries the start of the first file and the end of the second.
    const psb::Bytes rebuilt = ReadAll(out);
    ASSERT_EQ(rebuilt.size(), 7 * psb::kPackSize);
    auto substream = [&](size_t pack) { return rebuilt[pack * 2048 + 23 + rebuilt[pack * 2048 + 22]]; };
    EXPECT_EQ(std::vector<int>({substream(2), substream(5), substream(6)}), std::vector<int>({0x80, 0x81, 0x80}));
    for (size_t at : {size_t(0), 3 * psb::kPackSize})
        EXPECT_EQ(std::vector<uint32_t>({psb::readBe32(rebuilt, at + 1338), psb::readBe32(rebuilt, at + 1342)}),
                  std::vector<uint32_t>({0x1000, 0x3000}));
}

// Streams of every kind from the same first time stamp, so that subpicture records,
// relative to the earliest time stamp, do not depend on which streams are kept.
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
    using Es = psb::ElementaryStream;
    psb::MuxOptions options;
    options.navLayout = psb::NavLayout::HdDvd;
    options.syncEntryPerStreamNumber = true;
    return psb::muxProgramStream({Es::video(0xE0, units(60, 3000, 1, 3600)), Es::vc1(0x56, units(30, 2500, 2, 7200)),
                                  Es::audio(0x80, units(40, 700, 3, 2880)), Es::audio(0x81, units(40, 900, 4, 2880)),
                                  Es::audio(0x8A, units(40, 1000, 5, 2880)), Es::audio(0xC4, units(40, 600, 6, 2880)),
                                  Es::subpicture(0x20, units(5, 400, 7, 40000)),
                                  Es::subpicture(0x21, units(5, 2500, 8, 40000))},
                                 options);
}

// Demuxing the rebuilt file gives the files of demuxing the kept streams of the source.
TEST(RebuildJob, DemuxOfTheRebuiltFileHoldsTheKeptStreamsByteForByte) {
    RebuildRun run;
    run.read(run.file("MIX.EVO", MixedStreams()));
    std::vector<StreamBox*> boxes{&run.ui.cbVideo[1]};
    for (auto* group : {&run.ui.cbAudio, &run.ui.cbSub})
        for (StreamBox& box : *group)
            if (box.ticked)
                boxes.push_back(&box);
    ASSERT_EQ(boxes.size(), 7u);
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        for (StreamBox* box : boxes)
            box->ticked = random() % 2;
        const std::vector<std::string> expected = run.demux(run.dir.file("demux" + std::to_string(seed)));
        run.ui.eWorkdir = "";
        run.jobs.bRebuildClick();

        const psb::Bytes rebuilt = ReadAll(run.dir.file("MIX.rebuilt.EVO"));
        ASSERT_EQ(rebuilt.size() % psb::kPackSize, 0u);
        for (size_t at = 0; at < rebuilt.size(); at += psb::kPackSize)
            ASSERT_EQ(psb::readBe32(rebuilt, at), 0x000001BAu) << "pack at " << at;
        RebuildRun again;
        again.read(run.dir.file("MIX.rebuilt.EVO"));
        EXPECT_EQ(again.demux(again.dir.file("out")), expected) << "seed " << seed;
    }
}

TEST(RebuildJob, CancelEndsTheFileAtAPackBoundaryAndNothingElseStartsMeanwhile) {
    RebuildRun run;
    psb::PsStream big;
    big.append(Feature(0x1000, 0x2000, {0x80}, 1)).padPacksTo(6 * 1024 * 1024);
    run.file("FEATURE_2.EVO", Feature(0x2000, 0x3000, {0x80}, 2));
    run.ui.cbFastCheck = false;
    run.read(run.file("FEATURE_1.EVO", big.bytes()));
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
    // A cancelled file keeps its passing name: it is not checked and not complete.
    const std::string partial = run.dir.file("FEATURE_1_FEATURE_2.rebuilt.EVO.partial");
    EXPECT_EQ(fs::file_size(partial), 4u * 1024 * 1024);
    EXPECT_FALSE(fs::exists(run.dir.file("FEATURE_1_FEATURE_2.rebuilt.EVO")));
    // The one job's lines, without the second file.
    const std::vector<std::string> lines(run.ui.lines.begin() + long(linesBefore), run.ui.lines.end());
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.front(), "Opening file [b]FEATURE_1.EVO[/b]");
    EXPECT_EQ(lines.end()[-3], "The rebuilt file is incomplete: it is kept as " + partial);
    EXPECT_EQ(lines.end()[-2], "Done.");
    EXPECT_EQ(run.ui.eEVOfile, run.dir.file("FEATURE_1.EVO"));
    run.expectIdle();
}

TEST(RebuildJob, FailuresCloseTheFilesAndLeaveTheWindowIdle) {
    RebuildRun run;
    const psb::Bytes first = Feature(0x1000, 0x2000, {0x80}, 1);
    const psb::Bytes second = Feature(0x2000, 0x3000, {0x80}, 2);
    run.file("FEATURE_2.EVO", second);
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
    auto output = [&](const std::string& folder) {
        fs::create_directories(run.dir.file(folder));
        return run.dir.file(folder) + PathSeparator + "FEATURE_1_FEATURE_2.rebuilt.EVO";
    };
    fs::create_symlink("/dev/full", output("full") + ".partial");
    EXPECT_EQ(failure("full").rfind("Stream write error \"" + output("full") + ".partial\". ", 0), 0u);
    EXPECT_FALSE(fs::exists(output("full")));
    // An output that is the source or the second feature file under another name is
    // refused before anything is written.
    fs::create_symlink("../FEATURE_1.EVO", output("links"));
    EXPECT_EQ(failure("links"),
              "Cannot create file \"" + output("links") + "\". It is the source file \"" + run.ui.eEVOfile + "\"");
    fs::remove(output("links"));
    fs::create_hard_link(run.dir.file("FEATURE_2.EVO"), output("links"));
    EXPECT_EQ(failure("links").rfind("Cannot create file \"" + output("links") + "\". It is the source file", 0), 0u);
    EXPECT_TRUE(ReadAll(run.dir.file("FEATURE_1.EVO")) == first && ReadAll(run.dir.file("FEATURE_2.EVO")) == second);

    const std::string missing = run.dir.file("missing") + PathSeparator + "FEATURE_1_FEATURE_2.rebuilt.EVO";
    EXPECT_EQ(failure("missing"), "Cannot create file \"" + missing + ".partial\". No such file or directory");
    run.ui.eEVOfile = run.dir.file("gone.EVO");
    EXPECT_EQ(failure(""), "Cannot open file \"" + run.dir.file("gone.EVO") + "\". No such file or directory");
}

// The output takes its name only after its check, and not when that name has meanwhile
// become the source's (a link made during the run): the source is untouched.
TEST(RebuildJob, TheRenameRefusesANameThatBecameTheSource) {
    RebuildRun run;
    psb::PsStream big;
    big.append(Feature(0x1000, 0x2000, {0x80}, 1)).padPacksTo(6 * 1024 * 1024);
    run.ui.cbFastCheck = false;
    const std::string source = run.file("A.EVO", big.bytes());
    run.read(source);
    const std::string out = run.dir.file("A.rebuilt.EVO");
    // A symbolic link where the system lets anyone make one, a hard link on Windows.
    run.ui.onPump = [&] {
        if (!fs::exists(out) && platform::IsWindows)
            fs::create_hard_link(source, out);
        else if (!fs::exists(out))
            fs::create_symlink(source, out);
    };
    try {
        run.jobs.bRebuildClick();
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot create file \"" + out + "\". It is the source file \"" + source + "\"");
    }
    EXPECT_TRUE(ReadAll(source) == big.bytes());
    EXPECT_EQ(fs::file_size(out + ".partial"), big.size());
    EXPECT_TRUE(fs::equivalent(out, source));
    run.expectIdle();
}

// What ffmpeg reports while decoding every video and audio stream; empty when all is well.
std::string DecodeErrors(const std::string& path) {
    return psb::tools::capture("ffmpeg -nostdin -v error -f mpeg -i " + psb::tools::shellQuote(path) +
                               " -map 0:v -map 0:a -f null - 2>&1");
}

TEST(RebuildFfmpeg, SecondOfTwoAc3StreamsComesOutAs0x80AndDecodes) {
    if (!psb::tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    RebuildRun run;
    const std::string evo = run.dir.file("VTS_01_1.EVO");
    ASSERT_EQ(psb::tools::run(psb::tools::ffmpegCommand(
                  "-f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=frequency=440:sample_rate=48000 "
                  "-f lavfi -i sine=frequency=880:sample_rate=48000 -map 0:v -map 1:a -map 2:a -c:a ac3 -ac:a:1 6 "
                  "-t 3 -c:v mpeg2video -b:v 3M -f dvd " + evo)),
              0);
    run.read(evo);
    run.ui.cbAudio[0].ticked = false;
    run.jobs.bRebuildClick();
    const std::string out = run.dir.file("VTS_01_1.rebuilt.EVO");
    auto streams = psb::tools::probeStreams(out, "-f mpeg");
    streams.erase("0x1bf"); // navigation packets
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams["0x1e0"]["codec_name"], "mpeg2video");
    EXPECT_EQ(streams["0x80"]["channels"], "6");
    EXPECT_EQ(DecodeErrors(evo), "");
    EXPECT_EQ(DecodeErrors(out), "");
}

// The demo disc joined, without its VC-1 stream (which ffmpeg decodes with errors in the
// source too), Dolby Digital and DTS: the other streams keep their codecs, renumbered.
TEST(RebuildFfmpeg, DemoFeatureFilesJoinedKeepTheTickedStreamsAndDecode) {
    if (!psb::tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    RebuildRun run;
    const std::string disc = run.dir.file("disc");
    ASSERT_EQ(psb::tools::run(std::string(HALYARD_DEMO_GENERATOR_PATH) + " " + disc + " >/dev/null"), 0);
    run.read(run.dir.file("disc/HVDVD_TS/FEATURE_1.EVO"));
    const auto& catalogue = run.state->Catalogue;
    ASSERT_EQ(std::vector<int>({catalogue.VideoType[1], catalogue.AudioType[0], catalogue.AudioType[2]}),
              std::vector<int>({0x56, 0x80, 0x8A}));
    run.ui.cbVideo[1].ticked = run.ui.cbAudio[0].ticked = run.ui.cbAudio[2].ticked = false;
    run.jobs.bRebuildClick();
    const std::string out = run.dir.file("disc/HVDVD_TS/FEATURE_1_FEATURE_2.rebuilt.EVO");

    std::map<std::string, std::string> ids; // codec -> id
    for (const auto& [id, entries] : psb::tools::probeStreams(out, "-f mpeg"))
        if (id != "0x1bf") // navigation packets
            ids[entries.at("codec_name")] = id;
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids["mpeg2video"], "0x1e0");
    EXPECT_EQ(ids.count("h264"), 0u); // the first file's H.264 stream is in the unticked slot 1 too
    EXPECT_EQ(ids["dvd_subtitle"], "0x20");
    std::set<int> audio;
    for (const char* codec : {"eac3", "truehd", "pcm_dvd"})
        audio.insert(std::stoi(ids[codec], nullptr, 16) & 0x0F);
    EXPECT_EQ(audio, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(DecodeErrors(run.dir.file("disc/HVDVD_TS/FEATURE_1.EVO")), "");
    EXPECT_EQ(DecodeErrors(out), "");
}

} // namespace
} // namespace halyard::test
