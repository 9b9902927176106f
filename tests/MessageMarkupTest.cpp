#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli/TerminalLog.h"
#include "model/MessageMarkup.h"

namespace halyard {
namespace {

// Writes a parsed line back as text, one run after the other: default runs as they are,
// other runs as "<look>text</>" with look = b, i, u, s<points>, #<colour as 0xBBGGRR>.
std::string Describe(const MarkedLine& line)
{
    std::string out;
    for (const MarkupSpan& span : line.spans) {
        const std::string text = line.text.substr(span.start, span.length);
        if (span.look.isDefault()) {
            out += text;
            continue;
        }
        std::string look;
        auto add = [&look](const std::string& part) { look += (look.empty() ? "" : ",") + part; };
        if (span.look.bold) add("b");
        if (span.look.italic) add("i");
        if (span.look.underline) add("u");
        if (span.look.pointSize != 8) add(span.look.pointSize == 10 ? "s10" : span.look.pointSize == 12 ? "s12" : "s?");
        if (span.look.hasColour) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "#%06X", span.look.colour);
            add(hex);
        }
        out += "<" + look + ">" + text + "</>";
    }
    return out;
}

std::string Describe(std::string_view line) { return Describe(ParseMarkup(line)); }

// The runs must be non-empty and back to back, covering the text exactly.
void ExpectSpansTileText(const MarkedLine& parsed, const std::string& input)
{
    size_t next = 0;
    for (const MarkupSpan& span : parsed.spans) {
        ASSERT_EQ(span.start, next) << "input: " << input;
        ASSERT_GT(span.length, 0u) << "input: " << input;
        next += span.length;
    }
    ASSERT_EQ(next, parsed.text.size()) << "input: " << input;
}

TEST(MessageMarkupTest, ProgramMessagesShowWithoutTags)
{
    EXPECT_EQ(Describe("Aspect ratio = [bl]16:9[/bl]"), "Aspect ratio = <#FF0000>16:9</>");
    EXPECT_EQ(Describe("[b]TrueHD[/b] stream (up to 8 channels)"),
              "<b>TrueHD</> stream (up to 8 channels)");
    EXPECT_EQ(Describe("Size = [bl]1920[/bl]x[bl]1080[/bl]"),
              "Size = <#FF0000>1920</>x<#FF0000>1080</>");
    EXPECT_EQ(DisplayedText("Size = [bl]1920[/bl]x[bl]1080[/bl]"), "Size = 1920x1080");
    EXPECT_EQ(Describe("at [re]0:01:02.500[/re]"), "at <#0000FF>0:01:02.500</>");
}

TEST(MessageMarkupTest, EmptyLineHasNoRuns)
{
    const MarkedLine parsed = ParseMarkup("");
    EXPECT_EQ(parsed.text, "");
    EXPECT_TRUE(parsed.spans.empty());
    EXPECT_TRUE(ParseMarkup("[b][/b]").spans.empty());
}

TEST(MessageMarkupTest, EveryTagOfTheTableGivesItsLook)
{
    EXPECT_EQ(Describe("[i]x[/i] [u]y[/u]"), "<i>x</> <u>y</>");
    EXPECT_EQ(Describe("[s1]x[/s1][s2]y[/s2]"), "<s10>x</><s12>y</>");
    // A name that is not in the table, and names differing only in case, look default.
    EXPECT_EQ(Describe("a [B]bold?[/B] [Bl]blue?[/Bl] [x]y[/x]"), "a bold? blue? y");
}

TEST(MessageMarkupTest, ColourDigitsAnyCaseRedInLowestByte)
{
    EXPECT_EQ(LookOfTag("c:ff").colour, kColourRed);
    EXPECT_EQ(LookOfTag("c:FF").colour, kColourRed);
    EXPECT_EQ(LookOfTag("c:0000fF").colour, kColourRed);
    EXPECT_EQ(LookOfTag("c:00FF00").colour, 0x00FF00u);
    EXPECT_EQ(LookOfTag("c:FF0000").colour, kColourBlue);
    // Non-hex characters are skipped, not ended on.
    EXPECT_EQ(LookOfTag("c:#1-2 g3").colour, 0x123u);
    // No digits: black, still a colour of its own.
    const TextLook black = LookOfTag("c:");
    EXPECT_TRUE(black.hasColour);
    EXPECT_EQ(black.colour, 0u);
    EXPECT_EQ(Describe("[c:00ff00]go[/c:00ff00]"), "<#00FF00>go</>");
    // The closing tag must repeat the digits as written.
    EXPECT_EQ(Describe("[c:ff]x[/c:FF]"), "[c:ff]x[/c:FF]");
}

TEST(MessageMarkupTest, LongLinesKeptWholeWithRunsInStep)
{
    const std::string head(300, 'a');
    const std::string middle(120, 'm');
    const std::string line = head + "[re]00:01[/re]" + middle + "[b]end[/b]!";
    const MarkedLine parsed = ParseMarkup(line);
    EXPECT_EQ(parsed.text, head + "00:01" + middle + "end!");
    EXPECT_EQ(Describe(parsed), head + "<#0000FF>00:01</>" + middle + "<b>end</>!");
}

TEST(MessageMarkupTest, StrayBracketsShowAsTyped)
{
    // Brackets of a file name inside tagged text are part of it.
    EXPECT_EQ(Describe("Opening file [b]a[1].evo[/b]"), "Opening file <b>a[1].evo</>");
    // A tag that is never closed is text; tags after it still count.
    EXPECT_EQ(Describe("Opening a[1].evo: [bl]3[/bl] streams"), "Opening a[1].evo: <#FF0000>3</> streams");
    EXPECT_EQ(Describe("[b]unclosed"), "[b]unclosed");
    EXPECT_EQ(Describe("x ] y [ z"), "x ] y [ z");
    EXPECT_EQ(Describe("end ["), "end [");
    EXPECT_EQ(Describe("] [/b] ]["), "] [/b] ][");
    // An unclosed "[" does not swallow a real tag that starts inside its brackets.
    EXPECT_EQ(Describe("a[x[b]y[/b]"), "a[x<b>y</>");
}

// One look per byte of the displayed text.
std::vector<TextLook> LooksPerByte(const MarkedLine& line)
{
    std::vector<TextLook> looks;
    for (const MarkupSpan& span : line.spans)
        looks.insert(looks.end(), span.length, span.look);
    return looks;
}

constexpr unsigned kRandomSeed = 0x6d61726b;

TEST(MessageMarkupTest, WellFormedLinesLoseOnlyTheirTags)
{
    static const char* const kNames[] = {"b", "i", "u", "s1", "s2", "c:ff", "c:", "bl", "re", "zz"};
    static const char kPlain[] = "ab 1:.x/";
    std::printf("MessageMarkupTest well-formed seed: %u\n", kRandomSeed);
    std::mt19937 rng(kRandomSeed);
    auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    auto plain = [&] {
        std::string s(pick(5), ' ');
        for (char& ch : s)
            ch = kPlain[pick(sizeof kPlain - 1)];
        return s;
    };
    for (int round = 0; round < 5000; ++round) {
        std::string line, expectedText;
        std::vector<TextLook> expectedLooks;
        auto expect = [&](const std::string& text, const TextLook& look) {
            expectedText += text;
            expectedLooks.insert(expectedLooks.end(), text.size(), look);
        };
        for (size_t pair = pick(4); pair > 0; --pair) {
            const std::string before = plain(), inside = plain();
            const std::string name = kNames[pick(std::size(kNames))];
            line += before + "[" + name + "]" + inside + "[/" + name + "]";
            expect(before, TextLook{});
            expect(inside, LookOfTag(name));
        }
        const std::string after = plain();
        line += after;
        expect(after, TextLook{});

        const MarkedLine parsed = ParseMarkup(line);
        ASSERT_EQ(parsed.text, expectedText) << "line: " << line;
        ExpectSpansTileText(parsed, line);
        ASSERT_TRUE(LooksPerByte(parsed) == expectedLooks) << "line: " << line;
    }
}

TEST(MessageMarkupTest, AnyInputEndsWithRunsInsideText)
{
    static const char kAlphabet[] = "[]/bcl:re x1fu";
    std::printf("MessageMarkupTest random-input seed: %u\n", kRandomSeed);
    std::mt19937 rng(kRandomSeed);
    std::uniform_int_distribution<size_t> length(0, 40), letter(0, sizeof kAlphabet - 2);
    for (int round = 0; round < 20000; ++round) {
        std::string line(length(rng), ' ');
        for (char& ch : line)
            ch = kAlphabet[letter(rng)];
        const MarkedLine parsed = ParseMarkup(line);
        ExpectSpansTileText(parsed, line);
        if (line.find("[/") == std::string::npos)
            ASSERT_EQ(parsed.text, line);  // no closing tag, nothing removed
        else
            ASSERT_LE(parsed.text.size(), line.size()) << "line: " << line;
    }
}

TEST(MessageMarkupTest, AnsiRenderingMarksLooksAndResets)
{
    const MarkedLine parsed =
        ParseMarkup("[b]TrueHD[/b] [bl]5.1[/bl] at [re]0:01[/re] [c:FF0000]v[/c:FF0000] [c:00ff00]g[/c:00ff00]");
    EXPECT_EQ(RenderAnsi(parsed),
              "\x1b[1mTrueHD\x1b[0m \x1b[34m5.1\x1b[0m at \x1b[31m0:01\x1b[0m \x1b[34mv\x1b[0m g");
    EXPECT_EQ(RenderPlain(parsed), "TrueHD 5.1 at 0:01 v g");
    EXPECT_EQ(RenderAnsi(ParseMarkup("[i]a[/i][u]b[/u]")), "\x1b[3ma\x1b[0m\x1b[4mb\x1b[0m");
}

} // namespace
} // namespace halyard
