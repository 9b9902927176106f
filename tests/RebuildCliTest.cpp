// halyard-cli rebuild as a user runs it: exit status, stdout, stderr, the rebuilt file.
#include "EngineFixture.h"

namespace halyard::test {
namespace {

using psb::Pes;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs "halyard-cli rebuild ARGUMENTS" in the folder.
CliRun RebuildCli(const std::string& arguments, const TempDir& dir) {
    CliRun run;
    run.out = psb::tools::capture("cd " + psb::tools::shellQuote(dir.path().string()) + " && " + HALYARD_CLI_PATH +
                                      " rebuild " + arguments + " 2>" + dir.file("stderr.txt"),
                                  &run.status);
    run.err = psb::tools::readText(dir.file("stderr.txt"));
    return run;
}

TEST(RebuildCli, WritesTheListedStreamsAndRefusesWhatItCannotRebuild) {
    TempDir dir;
    auto audio = [](uint8_t substream) {
        return psb::packWith(Pes(psb::sid::kPrivateStream1).substream(substream).pts(90000).payload(Filled(300, 2)));
    };
    psb::writeFile(dir.file("A.EVO"), Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
                                           psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))), audio(0x80),
                                           audio(0x81)}));
    CliRun some = RebuildCli("--streams cbVideo0,DD.stream.01 A.EVO", dir);
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(some.out.find("Creating ./A.rebuilt.EVO\nRebuilding...\nChecking...\nDone.\n\n"), std::string::npos) << some.out;
    EXPECT_EQ(ReadAll(dir.file("A.rebuilt.EVO")), Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
                                                       psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))),
                                                       audio(0x80)}));
    fs::create_directories(dir.file("out"));
    EXPECT_EQ(RebuildCli("--output out A.EVO", dir).status, 0);
    EXPECT_EQ(fs::file_size(dir.file("out/A.rebuilt.EVO")), 4 * psb::kPackSize);

    CliRun missing = RebuildCli("none.EVO", dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot open file \"none.EVO\". No such file or directory\n");
    fs::copy_file(dir.file("A.EVO"), dir.file("A.VOB"));
    CliRun vob = RebuildCli("A.VOB", dir);
    EXPECT_EQ(std::make_tuple(vob.status, vob.out), std::make_tuple(2, std::string()));
    EXPECT_EQ(vob.err, "halyard-cli: rebuild takes an .EVO source, not \"A.VOB\"\n");
}

} // namespace
} // namespace halyard::test
