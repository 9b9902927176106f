// Read XPL over the user-interface model: the memo, the tree, the log, the stream
// boxes, and the state the job leaves after a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestUi.h"
#include "PsBuilder.h"
#include "ToolRunner.h"
#include "jobs/Jobs.h"
#include "model/Error.h"
#include "playlist/ReadXpl.h"

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string Playlists = HALYARD_TEST_PLAYLISTS;

struct XplRun {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs{*state, ui};
    psb::tools::TempDir dir{"xpl"};

    XplRun() { InstallReadXplJob(jobs, *state, ui); }

    void read(const std::string& playlist, const std::string& source) {
        ui.eEVOfile = source;
        jobs.EVOadj();
        ui.eXPLfile = playlist;
        jobs.XPLadj();
        ui.bReadEVO.enabled = true;
        jobs.bReadXPLClick();
    }
    std::string write(const std::string& text) {
        const std::string path = dir.file("VPLST000.XPL");
        psb::writeFile(path, psb::Bytes(text.begin(), text.end()));
        return path;
    }
};

// The tree as indented lines, depth first.
Lines flatten(const std::vector<TreeNode>& nodes, const std::string& indent = "") {
    Lines lines;
    for (const TreeNode& node : nodes) {
        lines.push_back(indent + node.text);
        for (const std::string& child : flatten(node.children, indent + "  "))
            lines.push_back(child);
    }
    return lines;
}

TEST(ReadXpl, TestPlaylistsAreWellFormedXml) {
    if (!psb::tools::haveProgram("xmllint"))
        GTEST_SKIP() << "xmllint not installed";
    for (const auto& entry : fs::directory_iterator(Playlists))
        EXPECT_EQ(psb::tools::run("xmllint --noout " + psb::tools::shellQuote(entry.path().string())), 0)
            << entry.path();
}

TEST(ReadXpl, TheSourcesTitleFillsTheMemoTreeLogAndBoxes) {
    XplRun run;
    run.state->Catalogue.AudioType[5] = 0x85; // left by an earlier Read EVO
    run.read(Playlists + "/Feature.XPL", "/disc/HVDVD_TS/MOVIE_1.EVO");

    EXPECT_EQ(run.ui.mXPL.front(), "    <Title id=\"Movie\" displayName=\"The Movie\" titleDuration=\"01:42:17:12\">");
    EXPECT_EQ(run.ui.mXPL.back(), "    </Title>");
    EXPECT_EQ(run.ui.mXPL.size(), 13u);
    EXPECT_TRUE(run.ui.mXPLVisible);
    EXPECT_EQ(flatten(run.ui.tvXPL), (Lines{"Info", "  Title: Test Disc", "  Name: The Movie",
                                            "  Duration: 01:42:17:12", "  TimeBase: 60fps", "  TickBase: 24fps",
                                            "Video", "  VC-1.stream.0", "Audio", "  DD+.6ch.stream.01.en",
                                            "  MLP.stream.11.", "Subtitle", "  8bitRLE.stream.00.fr", "Chapter",
                                            "  00:00:00:00: Start", "  01:40:00:00: Credits"}));
    const std::string size = std::to_string(fs::file_size(Playlists + "/Feature.XPL"));
    EXPECT_EQ(run.ui.lines, (Lines{"Open Feature.XPL", "Filesize: " + size + " bytes", "VC-1.stream.0 found!",
                                   "DD+.6ch.stream.01.en found!", "MLP.stream.11. found!",
                                   "8bitRLE.stream.00.fr found!", "Done.", ""}));
    EXPECT_EQ(run.ui.status[1].front(), size + "/" + size + " bytes");

    // Boxes as a click leaves them; Demux and Rebuild follow.
    EXPECT_TRUE(run.ui.cbVideo[0].ticked && run.ui.cbVideo[0].enabled);
    EXPECT_EQ(run.ui.cbVideo[0].caption, "VC-1.stream.0");
    EXPECT_EQ(run.ui.cbAudio[1].caption, "DD+.6ch.stream.01.en");
    EXPECT_EQ(run.ui.cbAudio[1].hint, "DD+.6ch.stream.01.en");
    EXPECT_TRUE(run.ui.cbAudio[11].ticked);
    EXPECT_TRUE(run.ui.cbSub[0].ticked);
    EXPECT_FALSE(run.ui.cbAudio[5].enabled);
    EXPECT_TRUE(run.ui.bDemux.enabled && run.ui.bRebuild.enabled);
    EXPECT_EQ(run.state->Catalogue.AudioType[5], EmptySlot);
    EXPECT_EQ(run.state->Catalogue.AudioType[1], 1);
    EXPECT_EQ(run.ui.currentPage, XplPage);
    EXPECT_TRUE(run.ui.bReadXPL.enabled && run.ui.bReadEVO.enabled && run.ui.bbEVO.enabled && run.ui.bbXPL.enabled);
}

TEST(ReadXpl, NumbersOutsideTheTablesAndSlotsAreIgnored) {
    XplRun run;
    run.read(Playlists + "/OutOfRange.XPL", "EDGE.EVO");
    EXPECT_EQ(flatten(run.ui.tvXPL), (Lines{"Info", "  Title: Edges", "  Name: ", "  Duration: 00:00:01:00",
                                            "  TimeBase: 50fps", "  TickBase: ", "Video", "  .stream.15", "Audio",
                                            "  LPCM.2ch.stream.15.last", "Subtitle", "  2bitRLE.stream.19.no box",
                                            "Chapter"}));
    EXPECT_FALSE(run.ui.cbVideo[0].enabled);
    EXPECT_EQ(run.ui.cbAudio[15].caption, "LPCM.2ch.stream.15.last");
    for (const StreamBox& box : run.ui.cbSub)
        EXPECT_FALSE(box.enabled);
}

TEST(ReadXpl, WithoutAMatchingTitleTheWholeMemoStaysAndTheTreeIsKept) {
    XplRun run;
    run.read(Playlists + "/Feature.XPL", "");
    EXPECT_EQ(run.ui.mXPL.size(), 31u);
    EXPECT_EQ(run.ui.mXPL[0], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    EXPECT_EQ(run.ui.mXPL[2], "<Playlist xmlns=\"http://www.dvdforum.org/2005/HDDVDVideo/Playlist\" majorVersion=\"1\" "
                              "minorVersion=\"0\" displayName=\"Test Disc\">");
    EXPECT_EQ(run.ui.mXPL.back(), "</Playlist>");
    EXPECT_EQ(flatten(run.ui.tvXPL), (Lines{"Video", "Audio", "Subpicture", "Chapter"}));
    EXPECT_TRUE(run.ui.has("Done."));
    EXPECT_FALSE(run.ui.bDemux.enabled);
}

TEST(ReadXpl, AFailureClosesTheFileShowsTheMemoAndGivesTheButtonsBack) {
    XplRun run;
    const std::string missing = run.dir.file("none.XPL");
    try {
        run.read(missing, "");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". No such file or directory");
    }
    EXPECT_TRUE(run.ui.bReadXPL.enabled && run.ui.bReadEVO.enabled && run.ui.bbEVO.enabled && run.ui.bbXPL.enabled);

    const std::string bad = run.write("<a>\n<AudioAttributeItem index=\"2a\" codec=\"DD\"/>\n<b>");
    run.ui.eXPLfile = bad;
    run.ui.bReadEVO.enabled = false;
    try {
        run.jobs.bReadXPLClick();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'2a' is not a valid integer value");
    }
    EXPECT_EQ(run.state->SourceStream, nullptr);
    EXPECT_TRUE(run.ui.mXPLVisible);
    EXPECT_EQ(run.ui.mXPL.size(), 2u);
    EXPECT_TRUE(run.ui.bReadXPL.enabled && run.ui.bbEVO.enabled && run.ui.bbXPL.enabled);
    EXPECT_FALSE(run.ui.bReadEVO.enabled);
    EXPECT_FALSE(run.jobs.jobRunning());
}

} // namespace
} // namespace halyard::test
