#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// Messages for the log are written once, as plain text with inline tag pairs:
//   "[b]TrueHD[/b] stream"        bold
//   "[bl]16:9[/bl]"               blue value
//   "[re]00:01:02[/re]"           red time stamp
// A pair is an opening tag "[name]" and its closing tag "[/name]"; pairs do not nest.
// ParseMarkup turns such a line into the text the user sees and the looks of its parts,
// so the window and the command line can each draw it their own way.

// The look of a run of characters. The defaults are the log's own font: 8 point, no style,
// the window-text colour (hasColour false).
struct TextLook {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int pointSize = 8;
    bool hasColour = false;
    uint32_t colour = 0;  // 0x00BBGGRR: red in the lowest byte, blue in the third

    bool operator==(const TextLook&) const = default;
    bool isDefault() const { return *this == TextLook{}; }
};

inline constexpr uint32_t kColourBlue = 0xFF0000;  // red 0, green 0, blue 255
inline constexpr uint32_t kColourRed = 0x0000FF;   // red 255, green 0, blue 0

// A run of the displayed text; start and length count bytes of MarkedLine::text.
struct MarkupSpan {
    size_t start = 0;
    size_t length = 0;
    TextLook look;
};

// The displayed text and its runs. The spans are non-empty, in order and back to back:
// together they cover the whole text exactly once (an empty text has no spans).
struct MarkedLine {
    std::string text;
    std::vector<MarkupSpan> spans;
};

// The look a tag name gives to its tagged text ("b", "i", "u", "s1", "s2", "c:<hex>",
// "bl", "re"; any other name gives the default look). Names are case-sensitive.
TextLook LookOfTag(std::string_view name);

MarkedLine ParseMarkup(std::string_view line);

// The line as the user sees it: ParseMarkup(line).text.
std::string DisplayedText(std::string_view line);

} // namespace halyard
