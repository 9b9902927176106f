#include "cli/TerminalLog.h"

#include <algorithm>

namespace halyard {

namespace {

constexpr std::string_view kSgrReset = "\x1b[0m";
constexpr std::string_view kSgrBold = "\x1b[1m";
constexpr std::string_view kSgrItalic = "\x1b[3m";
constexpr std::string_view kSgrUnderline = "\x1b[4m";
constexpr std::string_view kSgrRed = "\x1b[31m";
constexpr std::string_view kSgrBlue = "\x1b[34m";

// The SGR sequences that switch to a look; empty for the default look.
std::string SgrOf(const TextLook& look)
{
    std::string sgr;
    if (look.bold)
        sgr += kSgrBold;
    if (look.italic)
        sgr += kSgrItalic;
    if (look.underline)
        sgr += kSgrUnderline;
    if (look.hasColour && look.colour == kColourRed)
        sgr += kSgrRed;
    else if (look.hasColour && look.colour == kColourBlue)
        sgr += kSgrBlue;
    return sgr;
}

} // namespace

std::string RenderAnsi(const MarkedLine& line)
{
    // ParseMarkup's spans cover the text back to back; text outside any span (a line
    // built by hand) is written plain rather than dropped.
    std::string out;
    size_t done = 0;
    for (const MarkupSpan& span : line.spans) {
        if (span.start < done || span.start >= line.text.size())
            continue;
        out.append(line.text, done, span.start - done);
        const std::string sgr = SgrOf(span.look);
        out += sgr;
        const size_t length = std::min(span.length, line.text.size() - span.start);
        out.append(line.text, span.start, length);
        if (!sgr.empty())
            out += kSgrReset;
        done = span.start + length;
    }
    out.append(line.text, done);
    return out;
}

std::string RenderPlain(const MarkedLine& line)
{
    return line.text;
}

} // namespace halyard
