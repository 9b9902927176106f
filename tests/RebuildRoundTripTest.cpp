// Rebuild checked against what it did not write, over the demo disc: its first feature
// file, both feature files joined, and the first one behind a stray byte. For every
// single box and several mixed selections, a demux of the rebuilt file gives each kept
// stream byte for byte as a demux of the source does; ffprobe lists exactly the kept
// streams under their new ids; and every synchronisation address of the rebuilt file
// leads to a pack of the stream that its index now stands for.
#include "EngineFixture.h"

#include <set>

#include "engine/StreamIds.h"
#include "jobs/Jobs.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"
#include "rebuild/Rebuild.h"

namespace halyard::test {
namespace {

class RebuildRoundTrip : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!psb::tools::haveFfmpeg())
            return;
        disc_ = std::make_unique<TempDir>();
        const std::string folder = disc_->file("disc");
        ASSERT_EQ(psb::tools::run(std::string(HALYARD_DEMO_GENERATOR_PATH) + " " + folder + " >/dev/null"), 0);
        // The first feature file behind a stray byte: every pack one byte off its place.
        const psb::Bytes first = ReadAll(feature(1));
        psb::writeFile(disc_->file("disc/HVDVD_TS/SHIFT.EVO"), Cat({{'X'}, first}));
    }
    static void TearDownTestSuite() { disc_.reset(); }
    void SetUp() override {
        if (!disc_)
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }

    static std::string feature(int part) {
        return disc_->file("disc/HVDVD_TS/FEATURE_" + std::to_string(part) + ".EVO");
    }
    static std::string shifted() { return disc_->file("disc/HVDVD_TS/SHIFT.EVO"); }

    static std::unique_ptr<TempDir> disc_;
};
std::unique_ptr<TempDir> RebuildRoundTrip::disc_;

// Rebuilds the source (joined with its second feature file or not), keeping the boxes named.
RebuildResult RebuildKeeping(const std::string& source, bool joined, const std::set<std::string>& boxes,
                             const std::string& folder) {
    auto state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs(*state, ui);
    const std::shared_ptr<EvoRebuild> rebuild = InstallRebuildJob(jobs, *state, ui);
    ui.eEVOfile = source;
    ui.cbContinue = joined;
    ui.cbDetails = false;
    ui.eWorkdir = folder;
    fs::create_directories(folder);
    jobs.EVOadj();
    jobs.bReadEVOClick();
    auto choose = [&](StreamBox& box, const std::string& name) { box.ticked = box.enabled && boxes.count(name); };
    for (int slot = 0; slot < 2; ++slot)
        choose(ui.cbVideo[size_t(slot)], VideoBoxName(slot));
    for (int slot = 0; slot < 16; ++slot) {
        choose(ui.cbAudio[size_t(slot)], AudioBoxName(slot));
        choose(ui.cbSub[size_t(slot)], SubpictureBoxName(slot));
    }
    jobs.bRebuildClick();
    EXPECT_TRUE(ui.has("Done.")) << ui.joined();
    return rebuild->result();
}

// Every stream of the files, demuxed by the engine one file at a time and joined, by
// the id that names it; subpicture records count from `earliest`.
std::map<int, psb::Bytes> DemuxById(const std::vector<std::string>& files, uint32_t earliest) {
    std::map<int, psb::Bytes> streams;
    for (const std::string& file : files) {
        const psb::Bytes data = ReadAll(file);
        EngineRun run;
        run.ui.cbDetails = false;
        run.read(data);
        run.state->EarliestPts = earliest;
        run.tickFound();
        run.write(data);
        const StreamCatalogue& catalogue = run.state->Catalogue;
        auto add = [&](int32_t type, const std::string& output) {
            if (type >= 0)
                streams[type] = Cat({streams[type], run.output(output)});
        };
        for (size_t slot = 0; slot < 2; ++slot)
            add(catalogue.VideoType[slot], "video" + std::to_string(slot));
        for (size_t slot = 0; slot < 16; ++slot) {
            add(catalogue.AudioType[slot], "audio" + std::to_string(slot));
            add(catalogue.SubpictureType[slot], "sub" + std::to_string(slot));
        }
    }
    return streams;
}

uint32_t EarliestPtsOf(const std::string& file) {
    EngineRun run;
    run.ui.cbDetails = false;
    run.read(ReadAll(file));
    return run.state->EarliestPts;
}

// The id ffprobe gives a stream of a program stream.
std::string FfprobeId(uint8_t id) {
    char text[16];
    const StreamCodec* codec = CodecOfId(id);
    if (codec->kind != StreamKind::Video)
        std::snprintf(text, sizeof text, "0x%x", id);
    else if (id < 0xE0)
        std::snprintf(text, sizeof text, "0xfd%x", id);
    else
        std::snprintf(text, sizeof text, "0x1%x", id);
    return text;
}

// The substream id of the first packet of the pack at `at`, or -1 when it has none.
int SubstreamOfPack(const psb::Bytes& file, size_t at) {
    const size_t packet = at + 14 + (file[at + 13] & 7);
    if (psb::readBe32(file, packet) != 0x000001BDu)
        return -1;
    return file[packet + 9 + file[packet + 8]];
}

// Follows every synchronisation address of every HD DVD navigation pack to its pack,
// which must hold the stream in the slot of the entry's index. Returns the count followed.
size_t FollowSyncAddresses(const psb::Bytes& file) {
    static constexpr uint8_t Marker[] = {0x01, 0xBF, 0x02, 0xF3, 0x01};
    size_t followed = 0;
    for (size_t nav = 0; nav + psb::kPackSize <= file.size(); nav += psb::kPackSize) {
        if (file[nav + 17] != 0xBB || !std::equal(std::begin(Marker), std::end(Marker), file.begin() + long(nav + 1289)))
            continue;
        auto follow = [&](uint32_t value, uint32_t address, uint32_t backward, StreamKind kind, int index) {
            if (value == 0 || (value & address) == address)
                return;
            const int64_t packs = (value & backward) ? -int64_t(value & address) : int64_t(value & address);
            const int64_t target = int64_t(nav / psb::kPackSize) + packs;
            ASSERT_TRUE(target >= 0 && size_t(target + 1) * psb::kPackSize <= file.size()) << "pack " << nav / 2048;
            const int id = SubstreamOfPack(file, size_t(target) * psb::kPackSize);
            ASSERT_GE(id, 0) << "entry " << index << " of pack " << nav / 2048;
            const StreamCodec* codec = CodecOfId(uint8_t(id));
            EXPECT_TRUE(codec && codec->kind == kind && SlotOfId(uint8_t(id)) == index)
                << "entry " << index << " of pack " << nav / 2048 << " leads to substream " << std::hex << id;
            ++followed;
        };
        for (int i = 0; i < 8; ++i)
            follow(psb::readBe16(file, nav + 1824 + 2 * size_t(i)), 0x3FFF, 0x8000, StreamKind::Audio, i);
        for (int i = 0; i < 32; ++i)
            follow(psb::readBe32(file, nav + 1840 + 4 * size_t(i)), 0x3FFFFFFF, 0x80000000u, StreamKind::Subpicture, i);
    }
    return followed;
}

using Selection = std::set<std::string>;

// The three checks of one rebuild of `files`; `cache` holds the source's demuxes by
// their earliest time stamp.
void ExpectRoundTrip(const std::vector<std::string>& files, const Selection& boxes, const std::string& folder,
                     std::map<uint32_t, std::map<int, psb::Bytes>>& cache) {
    std::string names;
    for (const std::string& box : boxes)
        names += box + " ";
    SCOPED_TRACE("keeping " + names);
    const RebuildResult result = RebuildKeeping(files.front(), files.size() > 1, boxes, folder);
    ASSERT_FALSE(result.path.empty());
    ASSERT_FALSE(fs::exists(result.path + ".partial"));

    const uint32_t earliest = EarliestPtsOf(result.path);
    if (!cache.count(earliest))
        cache[earliest] = DemuxById(files, earliest);
    const std::map<int, psb::Bytes>& source = cache[earliest];
    const std::map<int, psb::Bytes> rebuilt = DemuxById({result.path}, earliest);
    std::map<int, psb::Bytes> expected;
    std::set<std::string> probeIds;
    bool syncedStreams = false;
    for (const RebuiltStream& stream : result.streams) {
        ASSERT_TRUE(source.count(stream.sourceId)) << std::hex << int(stream.sourceId);
        expected[stream.newId] = source.at(stream.sourceId);
        probeIds.insert(FfprobeId(stream.newId));
        syncedStreams = syncedStreams || CodecOfId(stream.newId)->kind != StreamKind::Video;
    }
    EXPECT_EQ(expected.size(), boxes.size() + (boxes.count("cbVideo1") && files.size() > 1 ? 1 : 0));
    EXPECT_TRUE(rebuilt == expected) << "the demux of the rebuilt file differs";

    std::set<std::string> probed;
    // The whole file (VC-1 begins in its second half), without the look at its end for the
    // duration, which can take a start code inside a payload for a stream.
    const std::string options = "-f mpeg -probesize 100M -analyzeduration 100M -skip_estimate_duration_from_pts 1";
    for (const auto& [id, entries] : psb::tools::probeStreams(result.path, options))
        if (id != "0x1bf")
            probed.insert(id);
    EXPECT_EQ(probed, probeIds);

    const size_t followed = FollowSyncAddresses(ReadAll(result.path));
    if (syncedStreams) {
        EXPECT_GT(followed, 0u);
    }
}

const std::vector<std::string> Boxes{"cbVideo0",  "cbVideo1",  "cbAudio00", "cbAudio01",
                                     "cbAudio02", "cbAudio03", "cbAudio04", "cbSub00"};

TEST_F(RebuildRoundTrip, OneFeatureFile) {
    std::map<uint32_t, std::map<int, psb::Bytes>> cache;
    std::vector<Selection> selections;
    for (const std::string& box : Boxes)
        selections.push_back({box});
    selections.push_back(Selection(Boxes.begin(), Boxes.end()));
    selections.push_back({"cbVideo1", "cbAudio02", "cbAudio04"});
    selections.push_back({"cbVideo0", "cbAudio03", "cbSub00"});
    selections.push_back({"cbAudio01", "cbAudio04"});
    for (size_t i = 0; i < selections.size(); ++i)
        ExpectRoundTrip({feature(1)}, selections[i], disc_->file("one" + std::to_string(i)), cache);
}

// Video slot 1 holds H.264 in the first file and VC-1 in the second: its box keeps both,
// in slots of their own, so it goes with no other video box.
TEST_F(RebuildRoundTrip, BothFeatureFilesJoined) {
    std::map<uint32_t, std::map<int, psb::Bytes>> cache;
    std::vector<Selection> selections;
    for (const std::string& box : Boxes)
        selections.push_back({box});
    selections.push_back({"cbVideo0", "cbAudio00", "cbAudio01", "cbAudio02", "cbAudio03", "cbAudio04", "cbSub00"});
    selections.push_back({"cbVideo1", "cbAudio00", "cbAudio03"});
    selections.push_back({"cbAudio04", "cbSub00"});
    selections.push_back({"cbVideo0", "cbAudio02"});
    for (size_t i = 0; i < selections.size(); ++i)
        ExpectRoundTrip({feature(1), feature(2)}, selections[i], disc_->file("joined" + std::to_string(i)), cache);

    // Both video boxes: three video streams for two slots, refused before anything is written.
    const std::string folder = disc_->file("crowded");
    try {
        RebuildKeeping(feature(1), true, {"cbVideo0", "cbVideo1", "cbAudio00"}, folder);
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot rebuild: the kept video streams need more video slots than a program stream has, so a "
                  "demux of it would mix them: MPEG-2 stream 0xE0 (cbVideo0, FEATURE_1.EVO and FEATURE_2.EVO), "
                  "H.264 (AVC) stream 0xE3 (cbVideo1, FEATURE_1.EVO), VC-1 stream id extension 0x56 (cbVideo1, "
                  "FEATURE_2.EVO). Untick some of them");
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(RebuildRoundTrip, FeatureFileBehindAStrayByte) {
    std::map<uint32_t, std::map<int, psb::Bytes>> cache;
    const std::vector<Selection> selections{Selection(Boxes.begin(), Boxes.end()), {"cbVideo1", "cbAudio04"},
                                            {"cbAudio00", "cbSub00"}};
    for (size_t i = 0; i < selections.size(); ++i)
        ExpectRoundTrip({shifted()}, selections[i], disc_->file("shifted" + std::to_string(i)), cache);
    // Nothing lost: every pack of the file that carries it.
    const RebuildResult all = RebuildKeeping(shifted(), false, Selection(Boxes.begin(), Boxes.end()),
                                             disc_->file("shifted-all"));
    EXPECT_EQ(fs::file_size(all.path), fs::file_size(feature(1)));
}

} // namespace
} // namespace halyard::test
