// A source cut short anywhere gives outputs that are prefixes of the whole file's.
#include "EngineFixture.h"

#include <map>
#include <random>

#include "jobs/Jobs.h"

namespace halyard::test {
namespace {

// Read EVO, then Demux of every stream found, of the one file at source into folder.
std::map<std::string, psb::Bytes> demuxAll(const std::string& source, const std::string& folder) {
    auto state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs(*state, ui);
    fs::create_directories(folder);
    ui.eEVOfile = source;
    ui.eWorkdir = folder;
    ui.cbContinue = false;
    jobs.EVOadj();
    jobs.bReadEVOClick();
    jobs.bDemuxClick();
    std::map<std::string, psb::Bytes> outputs;
    for (const auto& entry : fs::directory_iterator(folder))
        outputs[entry.path().filename().string()] = ReadAll(entry.path().string());
    return outputs;
}

bool isPrefix(const psb::Bytes& part, const psb::Bytes& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(Truncation, ACutSourceGivesPrefixesOfTheWholeRunsOutputs) {
    if (!psb::tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg codes the demo disc";
    TempDir dir;
    ASSERT_EQ(psb::tools::run(psb::tools::shellQuote(HALYARD_DEMO_GENERATOR_PATH) + " " +
                              psb::tools::shellQuote(dir.file("disc")) + " >/dev/null"),
              0);
    const psb::Bytes disc = ReadAll(dir.file("disc/HVDVD_TS/FEATURE_1.EVO"));
    const auto whole = demuxAll(dir.file("disc/HVDVD_TS/FEATURE_1.EVO"), dir.file("whole"));
    ASSERT_GE(whole.size(), 8u);

    // Cuts at pack boundaries and inside packs, over the whole file.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    const size_t packs = disc.size() / 2048;
    std::vector<size_t> cuts{0, 2048, disc.size() - 1};
    for (int i = 0; i < 6; ++i) {
        const size_t pack = std::uniform_int_distribution<size_t>(1, packs - 1)(random);
        cuts.push_back(pack * 2048);
        cuts.push_back(pack * 2048 + std::uniform_int_distribution<size_t>(1, 2047)(random));
    }
    for (size_t cut : cuts) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", cut at " + std::to_string(cut));
        const std::string folder = dir.file("cut" + std::to_string(cut));
        psb::writeFile(folder + ".EVO", psb::Bytes(disc.begin(), disc.begin() + std::ptrdiff_t(cut)));
        const auto outputs = demuxAll(folder + ".EVO", folder);
        for (const auto& [name, bytes] : outputs) {
            // The base name is the cut file's; the rest of the name is the stream's.
            const std::string stream = name.substr(name.find('.'));
            const auto full = whole.find("FEATURE_1" + stream);
            ASSERT_NE(full, whole.end()) << name;
            EXPECT_TRUE(isPrefix(bytes, full->second)) << name << ": " << bytes.size() << " bytes";
        }
    }
}

} // namespace
} // namespace halyard::test
