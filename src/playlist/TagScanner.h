#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// The codecs of the playlist's MediaAttributeList, by the items' index 1 to 8 (kept
// at 0 to 7). They are only ever overwritten, so they outlive a single read.
struct AttributeTables {
    static constexpr int Size = 8;
    std::array<std::string, Size> VideoAttrTable;
    std::array<std::string, Size> AudioAttrTable;
    std::array<std::string, Size> SubpictureAttrTable;

    // The text for an index, or "" for an index outside 1 to 8.
    static const std::string& at(const std::array<std::string, Size>& table, int index);
};

// Values a read keeps across tags: a tag that passes the same test again but lacks
// the attribute (the Playlist and TitleSet closing tags) leaves them as they are.
struct PlaylistValues {
    std::string PlaylistName;
    std::string TimeBase;
    std::string TickBase;
};

// Cuts a playlist into tags, one memo line per tag, indented two spaces per level of
// nesting; text between tags is dropped. The scan state carries over from one call
// of scan to the next, so a tag split between two chunks comes out whole. This is
// not an XML parser: unbalanced or unusual markup only changes the indentation.
class TagScanner {
public:
    // Deeper nesting is indented as this many levels, so a file of nothing but
    // opening tags cannot make every line megabytes long.
    static constexpr int64_t MaxIndentLevels = 32;

    // With commentLines, the scanner also notes for each memo line whether its tag lies
    // inside an XML comment (<!-- ... -->, which may hold tags of its own).
    TagScanner(std::vector<std::string>& memo, AttributeTables& tables, PlaylistValues& values,
               std::vector<bool>* commentLines = nullptr);

    // Raises "'TEXT' is not a valid integer value" for an attribute item whose index
    // is not an integer.
    void scan(const uint8_t* bytes, size_t count);

    int64_t depth() const { return depth_; }

private:
    void endTag(bool emptyElement);
    void testTag(std::string_view tag);

    std::vector<std::string>& memo_;
    AttributeTables& tables_;
    PlaylistValues& values_;

    std::string tag_;    // the tag so far, after its indentation
    bool inTag_ = false;
    int64_t depth_ = 0;
    uint8_t previous_ = 0; // the last three bytes scanned; 0 before the first
    uint8_t beforePrevious_ = 0;
    uint8_t thirdPrevious_ = 0;

    std::vector<bool>* commentLines_;
    bool inComment_ = false;    // after "<!--", up to its "-->"
    bool tagInComment_ = false; // the tag in hand began in a comment or opened one
};

} // namespace halyard
