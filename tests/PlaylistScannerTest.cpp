// The playlist's byte scanner, attribute lookup and title cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/Error.h"
#include "playlist/TagScanner.h"
#include "playlist/SourceName.h"
#include "playlist/TitleCut.h"
#include "playlist/XplAttributes.h"

namespace halyard::test {
namespace {

using Lines = std::vector<std::string>;

struct Scan {
    Lines memo;
    AttributeTables tables;
    PlaylistValues values;
    TagScanner scanner{memo, tables, values};

    Scan& feed(const std::string& text) {
        scanner.scan(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        return *this;
    }
};

Lines scan(const std::string& text) {
    return Scan().feed(text).memo;
}

TEST(TagScanner, NestingGivesTwoSpacesPerLevelAndTextIsDropped) {
    // An element holding an empty element; a processing instruction and a comment
    // leave the depth as it was.
    EXPECT_EQ(scan("<?xml version=\"1.0\"?>\n<!-- c -->\n<a>\n  <b x=\"1\"/>text\n</a>\n<c>"),
              (Lines{"<?xml version=\"1.0\"?>", "<!-- c -->", "<a>", "  <b x=\"1\"/>", "</a>", "<c>"}));
    EXPECT_EQ(scan("<a><b><c/></b><d></d></a>"), (Lines{"<a>", "  <b>", "    <c/>", "  </b>", "  <d>", "  </d>", "</a>"}));
}

TEST(TagScanner, ControlCharactersInATagBecomeOneSpacePerRun) {
    EXPECT_EQ(scan("<Title\r\n\tid=\"x\"\r\n>"), (Lines{"<Title id=\"x\" >"}));
    // Ordinary spaces stay as they are; a line break after a space adds nothing.
    EXPECT_EQ(scan("<a  b=\"1\" \r\n  c>"), (Lines{"<a  b=\"1\"   c>"}));
}

TEST(TagScanner, UnbalancedTagsOnlyChangeTheIndentation) {
    // A closing tag at the left margin keeps its text; depth at or below 0 gives no
    // indentation.
    EXPECT_EQ(scan("</x></y><z>"), (Lines{"</x>", "</y>", "<z>"}));
    // Nesting deeper than the indentation limit is indented as the limit.
    std::string deep;
    for (int k = 0; k < 1000; ++k)
        deep += "<a>";
    const Lines memo = scan(deep);
    ASSERT_EQ(memo.size(), 1000u);
    EXPECT_EQ(memo.back().size(), size_t(TagScanner::MaxIndentLevels * 2) + 3);
}

TEST(TagScanner, SplitAtEveryOffsetGivesTheSameLinesTablesAndValues) {
    const std::string text = "<Playlist displayName=\"P\">\r\n <TitleSet timeBase=\"60fps\"\r\n tickBase=\"24fps\">"
                             "<AudioAttributeItem index=\"3\" codec=\"DD+\" channels=\"6\"/><!-- x --><?pi?>"
                             "<a></a></TitleSet></Playlist>";
    const Scan whole = [&] {
        Scan s;
        s.feed(text);
        return s;
    }();
    for (size_t split = 1; split < text.size(); ++split) {
        Scan parts;
        parts.feed(text.substr(0, split)).feed(text.substr(split));
        ASSERT_EQ(parts.memo, whole.memo) << "split at " << split;
        ASSERT_EQ(parts.tables.AudioAttrTable, whole.tables.AudioAttrTable) << "split at " << split;
        ASSERT_EQ(parts.values.TickBase, "24fps") << "split at " << split;
    }
}

TEST(TagScanner, AttributeItemsFillTheTablesAndClosingTagsKeepTheValues) {
    Scan s;
    s.feed("<Playlist displayName=\"Disc\"><TitleSet timeBase=\"50fps\" tickBase=\"25fps\">"
           "<VideoAttributeItem index=\"8\" codec=\"VC-1\"/>"
           "<AudioAttributeItem index=\"1\" codec=\"DD+\" channels=\"6\"/>"
           "<AudioAttributeItem index=\"1\" codec=\"MLP\"/>"
           "<SubpictureAttributeItem index=\"9\" codec=\"nine\"></SubpictureAttributeItem>"
           "</TitleSet></Playlist>");
    EXPECT_EQ(s.tables.VideoAttrTable[7], "VC-1");
    EXPECT_EQ(s.tables.AudioAttrTable[0], "MLP"); // the codec alone, also after an item with channels
    EXPECT_EQ(s.tables.SubpictureAttrTable, AttributeTables().SubpictureAttrTable);
    EXPECT_EQ(s.values.PlaylistName, "Disc");
    EXPECT_EQ(s.values.TimeBase, "50fps");
    EXPECT_EQ(s.values.TickBase, "25fps");

    try {
        Scan().feed("<VideoAttributeItem index=\"one\" codec=\"VC-1\"/>");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'one' is not a valid integer value");
    }
    EXPECT_THROW(Scan().feed("<AudioAttributeItem index=\"\" codec=\"DD\"/>"), Error);
}

TEST(GetAttr, FindsTheFirstMentionOfTheNameInAnyCase) {
    std::string value = "kept";
    EXPECT_FALSE(GetAttr("<Audio track=\"1\"/>", "description", value));
    EXPECT_EQ(value, "kept");
    EXPECT_TRUE(GetAttr("<Audio TRACK = \"7\"/>", "track", value));
    EXPECT_EQ(value, "7");
    // The name may sit inside a longer word, and the first mention wins.
    EXPECT_TRUE(GetAttr("<Audio subtrack=\"5\" track=\"1\"/>", "track", value));
    EXPECT_EQ(value, "5");
    // No closing quote, or a value beyond 255 characters after the name: empty.
    EXPECT_TRUE(GetAttr("<a codec=\"VC-1/>", "codec", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(GetAttr("<a codec=" + std::string(250, ' ') + "\"VC-1\"/>", "codec", value));
    EXPECT_EQ(value, "");

    EXPECT_EQ(GetAttrInt("<Audio streamNumber=\"12\"/>", "streamNumber"), 12);
    EXPECT_EQ(GetAttrInt("<Audio streamNumber=\"1x\"/>", "streamNumber"), 0);
    EXPECT_EQ(GetAttrInt("<Audio streamNumber=\"99999999999\"/>", "streamNumber"), 0);
    EXPECT_EQ(GetAttrInt("<Audio/>", "streamNumber"), 0);
}

Lines titles() {
    return {"<Playlist>", "  <Title id=\"A\">", "    <Clip src=\"A_1.MAP\"/>", "  </Title>",
            "  <Title id=\"B\">", "    <Clip src=\"B_1.MAP\"/>", "  </Title>", "</Playlist>"};
}

TEST(TitleCut, KeepsTheTitleThatFirstNamesTheSourceElseEveryLine) {
    const std::vector<bool> noComments;
    Lines memo = titles();
    EXPECT_TRUE(CutToTitle(memo, noComments, "B_1"));
    EXPECT_EQ(memo, (Lines{"  <Title id=\"B\">", "    <Clip src=\"B_1.MAP\"/>", "  </Title>"}));
    // The name in the Title tag itself keeps that title, not the one before.
    memo = titles();
    memo[4] = "  <title displayName=\"B_1.EVO\">";
    EXPECT_TRUE(CutToTitle(memo, noComments, "B_1"));
    EXPECT_EQ(memo.front(), "  <title displayName=\"B_1.EVO\">");
    EXPECT_EQ(memo.size(), 3u);
    // No match, a match on the first line only, no name, another case: nothing is cut.
    for (const std::string name : {"C_1", "P_1", "", "b_1"}) {
        memo = titles();
        memo[0] = "<Playlist src=\"P_1.MAP\">";
        Lines whole = memo;
        EXPECT_FALSE(CutToTitle(memo, noComments, name)) << name;
        EXPECT_EQ(memo, whole) << name;
    }
}

TEST(TitleCut, TheSourceIsNamedOnlyAsAWholeFileNameOutsideComments) {
    EXPECT_TRUE(NamesFile("<Clip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\"/>", "FEATURE_1"));
    EXPECT_TRUE(NamesFile("<Clip src=\"FEATURE_1.MAP\"/>", "FEATURE_1"));
    EXPECT_TRUE(NamesFile("<Clip src='FEATURE_1.MAP'/>", "FEATURE_1"));
    EXPECT_TRUE(NamesFile("<Clip src=FEATURE_1.MAP/>", "FEATURE_1"));
    EXPECT_TRUE(NamesFile("<Clip a=\"/FEATURE_10.MAP\" src=\"/FEATURE_1.MAP\"/>", "FEATURE_1"));
    for (const char* other : {"<Clip src=\"/FEATURE_10.MAP\"/>", "<Clip src=\"/MY_FEATURE_1.MAP\"/>",
                              "<Clip src=\"/FEATURE_1\"/>", "<Title displayName=\"FEATURE_1 cut\">",
                              "<FEATURE_1.MAP>", "<Clip src=\"/feature_1.MAP\"/>"})
        EXPECT_FALSE(NamesFile(other, "FEATURE_1")) << other;

    // A title that plays FEATURE_10 comes first, and a comment names FEATURE_1 in it.
    const std::string playlist = "<Playlist>\n<Title id=\"Ten\">\n<!-- was FEATURE_1.MAP > now -->\n"
                                 "<!-- <Clip src=\"/FEATURE_1.MAP\"/> -->\n<Clip src=\"/FEATURE_10.MAP\"/>\n"
                                 "</Title>\n<Title id=\"One\">\n<Clip src=\"/FEATURE_1.MAP\"/>\n</Title>\n</Playlist>\n";
    Lines memo;
    std::vector<bool> comments;
    AttributeTables tables;
    PlaylistValues values;
    TagScanner(memo, tables, values, &comments).scan(reinterpret_cast<const uint8_t*>(playlist.data()),
                                                     playlist.size());
    ASSERT_EQ(comments.size(), memo.size());
    EXPECT_EQ(std::count(comments.begin(), comments.end(), true), 4) << "two comments, each cut at its '>'";
    EXPECT_EQ(FirstLineNaming(memo, comments, "FEATURE_1"), 9u);
    EXPECT_TRUE(CutToTitle(memo, comments, "FEATURE_1"));
    EXPECT_EQ(memo.front(), "  <Title id=\"One\">");
}

} // namespace
} // namespace halyard::test
