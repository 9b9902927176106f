// halyard-cli xpl as a user runs it: what each --show prints, the playlist found from
// the source, failures, and the demo disc's playlist.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ToolRunner.h"

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using psb::tools::shellQuote;

const std::string Playlists = HALYARD_TEST_PLAYLISTS;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result xpl(const std::string& arguments, const psb::tools::TempDir& dir) {
    Result result;
    const std::string err = dir.file("stderr.txt");
    result.out = psb::tools::capture(shellQuote(HALYARD_CLI_PATH) + " xpl " + arguments + " 2>" + shellQuote(err),
                                     &result.status);
    result.err = psb::tools::readText(err);
    return result;
}

TEST(ReadXplCli, EachShowPrintsOneThingOnStdout) {
    psb::tools::TempDir dir("xpl-cli");
    const std::string playlist = shellQuote(Playlists + "/Feature.XPL");
    const Result log = xpl("--source MOVIE_1.EVO --markup " + playlist, dir);
    EXPECT_EQ(log.status, 0) << log.err;
    EXPECT_EQ(log.out.rfind("Open Feature.XPL\nFilesize: ", 0), 0u) << log.out;
    EXPECT_NE(log.out.find(" bytes\nVC-1.stream.0 found!\nDD+.6ch.stream.01.en found!\n"), std::string::npos);
    EXPECT_EQ(log.out.substr(log.out.size() - 7), "Done.\n\n");

    const Result memo = xpl("--source MOVIE_1.EVO --show memo " + playlist, dir);
    EXPECT_EQ(memo.out.rfind("    <Title id=\"Movie\"", 0), 0u) << memo.out;
    const Result tree = xpl("--source MOVIE_1.EVO --show tree " + playlist, dir);
    EXPECT_EQ(tree.out.rfind("Info\n  Title: Test Disc\n  Name: The Movie\n", 0), 0u) << tree.out;

    const Result boxes = xpl("--source MOVIE_1.EVO --show boxes " + playlist, dir);
    EXPECT_EQ(boxes.out, "cbVideo0\tVC-1.stream.0\ncbAudio01\tDD+.6ch.stream.01.en\ncbAudio11\tMLP.stream.11.\n"
                         "cbSub00\t8bitRLE.stream.00.fr\n");
}

TEST(ReadXplCli, FailuresAndUsage) {
    psb::tools::TempDir dir("xpl-cli");
    const Result missing = xpl("--show tree " + shellQuote(dir.file("none.XPL")), dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Cannot open file \"" + dir.file("none.XPL") + "\". No such file or directory\n");
    for (const char* arguments : {"", "--show all x.XPL", "a.XPL b.XPL"})
        EXPECT_EQ(xpl(arguments, dir).status, 2) << arguments;
}

// The demo disc's playlist is well-formed XML, is found from the feature file alone,
// and names the feature's streams.
TEST(ReadXplCli, DemoDiscPlaylistNamesTheFeatureStreams) {
    if (!psb::tools::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    psb::tools::TempDir dir("xpl-demo");
    ASSERT_EQ(psb::tools::run(shellQuote(HALYARD_DEMO_GENERATOR_PATH) + " " + shellQuote(dir.file("disc")) +
                              " >/dev/null 2>&1"),
              0);
    const std::string playlist = dir.file("disc/ADV_OBJ/VPLST000.XPL");
    EXPECT_NE(psb::tools::readText(playlist).find("\r\n"), std::string::npos);
    if (psb::tools::haveProgram("xmllint")) {
        EXPECT_EQ(psb::tools::run("xmllint --noout " + shellQuote(playlist)), 0);
    }

    // The source need not exist: no stream scan is run.
    fs::remove(dir.file("disc/HVDVD_TS/FEATURE_1.EVO"));
    const Result boxes = xpl("--show boxes --source " + shellQuote(dir.file("disc/HVDVD_TS/FEATURE_1.EVO")), dir);
    EXPECT_EQ(boxes.status, 0) << boxes.err;
    EXPECT_EQ(boxes.out, "cbVideo0\tMPEG-2.stream.0\ncbAudio00\tDD.6ch.stream.00.en\ncbAudio01\tDD+.2ch.stream.01.de\n"
                         "cbAudio02\tDTS.2ch.stream.02.fr\ncbAudio03\tMLP.2ch.stream.03.en\n"
                         "cbAudio04\tLPCM.2ch.stream.04.ja\ncbSub00\t2bitRLE.stream.00.en\n");
}

} // namespace
} // namespace halyard::test
