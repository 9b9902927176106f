// halyard-cli rebuild as a user runs it: exit status, stdout, the rebuilt file.
#include "EngineFixture.h"

#include "jobs/Jobs.h"

namespace halyard::test {
namespace {

using psb::Pes;

// Runs the command line in `folder`; the exit status, stdout and stderr.
struct CliRun {
    int status;
    std::string out;
    std::string err;
};
CliRun RebuildCli(const std::string& arguments, const TempDir& dir) {
    int status = -1;
    const std::string err = dir.file("stderr.txt");
    std::string out = psb::tools::capture("cd " + psb::tools::shellQuote(dir.path().string()) + " && " +
                                              HALYARD_CLI_PATH + " rebuild " + arguments + " 2>" + err,
                                          &status);
    const psb::Bytes errBytes = ReadAll(err);
    return {status, out, std::string(errBytes.begin(), errBytes.end())};
}

TEST(RebuildCli, WritesTheListedStreamsBesideTheSourceOrIntoTheOutputFolder) {
    TempDir dir;
    psb::writeFile(dir.file("A.EVO"),
                   Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).startPtm(90000).endPtm(180000).build(),
                        psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))),
                        psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x80).pts(90000).payload(Filled(300, 2))),
                        psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x81).pts(90000).payload(Filled(300, 3)))}));
    CliRun some = RebuildCli("--streams cbVideo0,DD.stream.01 A.EVO", dir);
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(some.out.find("Creating ./A.rebuilt.EVO\nRebuilding...\nDone.\n\n"), std::string::npos)
        << some.out;
    RunState state;
    RecordingUi ui;
    Jobs jobs(state, ui);
    ui.eEVOfile = dir.file("A.rebuilt.EVO");
    jobs.EVOadj();
    jobs.bReadEVOClick();
    EXPECT_EQ(state.Catalogue.AudioType[0], 0x80); // the second stream, renumbered
    EXPECT_EQ(state.Catalogue.AudioType[1], -1);

    fs::create_directories(dir.file("out"));
    EXPECT_EQ(RebuildCli("--output out A.EVO", dir).status, 0);
    EXPECT_EQ(fs::file_size(dir.file("out/A.rebuilt.EVO")), 4 * psb::kPackSize);

    // Another spelling of the source as the output folder, and a link to it as the output.
    fs::remove(dir.file("out/A.rebuilt.EVO"));
    fs::create_symlink("../A.EVO", dir.file("out/A.rebuilt.EVO"));
    CliRun same = RebuildCli("--output ./out/../out out/../A.EVO", dir);
    EXPECT_EQ(same.status, 1);
    EXPECT_EQ(same.err, "Cannot create file \"./out/../out/A.rebuilt.EVO\". It is the source file \"out/../A.EVO\"\n");
    EXPECT_EQ(fs::file_size(dir.file("A.EVO")), 4 * psb::kPackSize);

    CliRun missing = RebuildCli("none.EVO", dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot open file \"none.EVO\". No such file or directory\n");
    fs::copy_file(dir.file("A.EVO"), dir.file("A.VOB"));
    CliRun vob = RebuildCli("A.VOB", dir);
    EXPECT_EQ(vob.status, 2);
    EXPECT_EQ(vob.out, "");
    EXPECT_EQ(vob.err, "halyard-cli: rebuild takes an .EVO source, not \"A.VOB\"\n");
}

} // namespace
} // namespace halyard::test
