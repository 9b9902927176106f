// The regression corpus through the engine: every saved input, read and demuxed as
// an HD DVD and as a DVD-Audio source. The sanitizer build is where this counts.
#include "EngineFixture.h"

namespace halyard::test {
namespace {

TEST(Corpus, EveryInputIsReadAndDemuxedByTheEngine) {
    size_t replayed = 0;
    for (const auto& entry : fs::recursive_directory_iterator(HALYARD_CORPUS_DIR)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md")
            continue;
        const psb::Bytes input = ReadAll(entry.path().string());
        for (const char* name : {"x.EVO", "x.AOB"}) {
            SCOPED_TRACE(entry.path().string() + " as " + name);
            EngineRun run;
            EXPECT_NO_THROW(run.readAndWrite(input, name));
        }
        ++replayed;
    }
    EXPECT_GT(replayed, 0u);
}

} // namespace
} // namespace halyard::test
