// Opening a job's outputs: nothing that existed is lost when one of them is refused.
#include "EngineFixture.h"

#include "jobs/Jobs.h"
#include "model/Error.h"
#include "model/platform/Platform.h"

namespace halyard::test {
namespace {

std::string refusal(const std::vector<std::string>& paths, const std::vector<std::string>& sources) {
    try {
        OpenOutputs(paths, sources);
    } catch (const Error& error) {
        return error.what();
    }
    return "(opened)";
}

TEST(OpenOutputs, RefusesAnOutputThatIsASourceFileThroughALink) {
    TempDir dir;
    const psb::Bytes source = Filled(5000, 1);
    psb::writeFile(dir.file("S.EVO"), source);
    fs::create_hard_link(dir.path() / "S.EVO", dir.path() / "hard.mpv");
    std::vector<const char*> links{"hard.mpv"};
    std::error_code error; // Windows lets only some users make a symbolic link, Wine none
    fs::create_symlink("S.EVO", dir.path() / "symbolic.mpv", error);
    if (!error || !platform::IsWindows)
        links.push_back("symbolic.mpv");
    for (const char* link : links) {
        EXPECT_EQ(refusal({dir.file("new.mpa"), dir.file(link)}, {dir.file("other.EVO"), dir.file("S.EVO")}),
                  "Cannot create file \"" + dir.file(link) + "\". It is the source file \"" + dir.file("S.EVO") + "\"");
        EXPECT_EQ(ReadAll(dir.file("S.EVO")), source) << link;
        EXPECT_FALSE(fs::exists(dir.file("new.mpa"))) << "created by the refused call, so removed again";
    }
}

TEST(OpenOutputs, TruncatesOnlyOnceEveryOutputIsOpen) {
    TempDir dir;
    const psb::Bytes earlier = Filled(3000, 2);
    psb::writeFile(dir.file("a.mpv"), earlier);
    fs::create_directories(dir.path() / "c.sup"); // a folder that has an output's name

    EXPECT_EQ(refusal({dir.file("a.mpv"), dir.file("b.mpa"), dir.file("c.sup")}, {}),
              "Cannot create file \"" + dir.file("c.sup") + "\". Is a directory");
    EXPECT_EQ(ReadAll(dir.file("a.mpv")), earlier);
    EXPECT_FALSE(fs::exists(dir.file("b.mpa")));

    // The same file twice would interleave two streams.
    EXPECT_EQ(refusal({dir.file("a.mpv"), dir.file("./a.mpv")}, {}),
              "Cannot create file \"" + dir.file("./a.mpv") + "\". It is the same file as \"" + dir.file("a.mpv") +
                  "\"");
    EXPECT_EQ(ReadAll(dir.file("a.mpv")), earlier);

    const std::string null = platform::NullDevice;
    auto outputs = OpenOutputs({dir.file("a.mpv"), dir.file("b.mpa"), null, null}, {dir.file("S.EVO")});
    ASSERT_EQ(outputs.size(), 4u);
    EXPECT_EQ(fs::file_size(dir.file("a.mpv")), 0u);
    EXPECT_TRUE(fs::exists(dir.file("b.mpa")));
}

TEST(OpenOutputs, AnOutputThatAnotherRunWritesIsRefusedUntilItIsClosed) {
    TempDir dir;
    auto running = OpenOutputs({dir.file("a.mpa")}, {});
    const psb::Bytes data = Filled(1000, 3);
    running[0]->write(data.data(), data.size());
    running[0]->flush();

    // The lock belongs to the open file (flock's open file description, LockFileEx's
    // handle), not to the process: a second opening stands for another run. Two
    // processes are kept apart in the command line's tests.
    EXPECT_EQ(refusal({dir.file("a.mpa")}, {}),
              "Cannot create file \"" + dir.file("a.mpa") + "\". It is being written by another process");
    EXPECT_EQ(ReadAll(dir.file("a.mpa")), data);

    running[0]->close();
    EXPECT_NO_THROW(OpenOutputs({dir.file("a.mpa")}, {}));
}

TEST(Demux, AnOutputLinkedToTheSecondFeatureFileIsRefusedAndNothingIsCreated) {
    auto state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs(*state, ui);
    TempDir dir;
    const psb::Bytes second = Cat({psb::packWith(psb::Pes(psb::sid::kPrivateStream1).substream(0x80).pts(90000).payload(
        Filled(300, 4)))});
    psb::writeFile(dir.file("FEATURE_1.EVO"), second);
    psb::writeFile(dir.file("FEATURE_2.EVO"), second);
    ui.eEVOfile = dir.file("FEATURE_1.EVO");
    jobs.EVOadj();
    jobs.bReadEVOClick();
    ASSERT_TRUE(ui.cbAudio[0].ticked);
    ui.cbVideo[0] = {true, true, "MPEG-2.stream.0", ""}; // as the playlist could name it
    fs::create_hard_link(dir.path() / "FEATURE_2.EVO", dir.path() / "FEATURE_1_FEATURE_2.DD.stream.00.mpa");

    try {
        jobs.bDemuxClick();
        FAIL() << "demuxed";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + dir.file("FEATURE_1_FEATURE_2.DD.stream.00.mpa") +
                                                 "\". It is the source file \"" + dir.file("FEATURE_2.EVO") + "\"");
    }
    EXPECT_EQ(ReadAll(dir.file("FEATURE_2.EVO")), second);
    EXPECT_FALSE(fs::exists(dir.file("FEATURE_1_FEATURE_2.MPEG-2.stream.0.mpv")));
    EXPECT_FALSE(ui.has("Creating " + dir.file("FEATURE_1_FEATURE_2.MPEG-2.stream.0.mpv")));
}

} // namespace
} // namespace halyard::test
