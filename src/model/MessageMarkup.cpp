#include "model/MessageMarkup.h"

namespace halyard {

namespace {

constexpr char kTagOpen = '[';
constexpr char kTagClose = ']';
constexpr std::string_view kColourPrefix = "c:";
constexpr int kPointSizeS1 = 10;
constexpr int kPointSizeS2 = 12;
constexpr uint32_t kColourMask = 0x00FFFFFF;  // blue, green, red; no room for a fourth byte

// "c:" names: every character after the prefix that is a hex digit (either case) shifts
// into the value, anything else is skipped. No digits at all give black. More than six
// digits keep only the last six, so the value stays a plain RGB colour.
uint32_t ColourOfName(std::string_view digits)
{
    uint32_t value = 0;
    for (char ch : digits) {
        int digit = -1;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else if (ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        if (digit >= 0)
            value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value & kColourMask;
}

TextLook ColouredLook(uint32_t colour)
{
    TextLook look;
    look.hasColour = true;
    look.colour = colour;
    return look;
}

void AppendRun(MarkedLine& out, std::string_view run, const TextLook& look)
{
    if (run.empty())
        return;
    if (!out.spans.empty() && out.spans.back().look == look)
        out.spans.back().length += run.size();  // e.g. around an empty pair "[b][/b]"
    else
        out.spans.push_back({out.text.size(), run.size(), look});
    out.text.append(run);
}

} // namespace

TextLook LookOfTag(std::string_view name)
{
    // Tested in this order; the first match decides.
    TextLook look;
    if (name == "b")
        look.bold = true;
    else if (name == "i")
        look.italic = true;
    else if (name == "u")
        look.underline = true;
    else if (name == "s1")
        look.pointSize = kPointSizeS1;
    else if (name == "s2")
        look.pointSize = kPointSizeS2;
    else if (name.starts_with(kColourPrefix))
        look = ColouredLook(ColourOfName(name.substr(kColourPrefix.size())));
    else if (name == "bl")
        look = ColouredLook(kColourBlue);
    else if (name == "re")
        look = ColouredLook(kColourRed);
    return look;
}

// One left-to-right scan. At each "[" the text up to the next "]" is taken as a tag name,
// and the tag counts only if its closing tag "[/name]" follows somewhere later in the line:
// then the text between them is tagged text, both tags vanish and the scan goes on after
// the closing tag. Anything else is kept as typed:
//  - a "[" with no "]" after it, and everything after it, is plain text (nothing later
//    can be a tag);
//  - a "[" whose tag is never closed (a file name like "disc[1].evo", "[b]unclosed")
//    is plain text; the scan resumes at the character after that "[";
//  - a "]" outside a tag is plain text, and so are brackets inside tagged text.
// A line of well-formed pairs therefore shows as the line without its tags, and a line
// without valid markup shows exactly as typed. Every step moves forward, so the scan
// ends, and the spans are cut from the text they describe. Lines are kept whole.
MarkedLine ParseMarkup(std::string_view line)
{
    MarkedLine out;
    out.text.reserve(line.size());
    size_t plainStart = 0;  // start of the plain text not yet appended
    size_t scan = 0;        // where to look for the next "["
    while (scan < line.size()) {
        const size_t open = line.find(kTagOpen, scan);
        if (open == std::string_view::npos)
            break;
        const size_t close = line.find(kTagClose, open + 1);
        if (close == std::string_view::npos)
            break;
        const std::string_view name = line.substr(open + 1, close - open - 1);
        const std::string closingTag = "[/" + std::string(name) + "]";
        const size_t tagged = close + 1;
        const size_t closing = line.find(closingTag, tagged);
        if (closing == std::string_view::npos) {
            scan = open + 1;  // not a tag: keep the "[" as text
            continue;
        }
        AppendRun(out, line.substr(plainStart, open - plainStart), TextLook{});
        AppendRun(out, line.substr(tagged, closing - tagged), LookOfTag(name));
        plainStart = closing + closingTag.size();
        scan = plainStart;
    }
    AppendRun(out, line.substr(plainStart), TextLook{});
    return out;
}

std::string DisplayedText(std::string_view line)
{
    return ParseMarkup(line).text;
}

} // namespace halyard
