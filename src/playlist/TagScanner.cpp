#include "playlist/TagScanner.h"

#include <algorithm>

#include "model/Error.h"
#include "playlist/XplAttributes.h"

namespace halyard {

namespace {
// Stores an attribute item's value at its index. A tag without an index (a closing
// tag) stores nothing; an index outside 1 to 8 is ignored.
void storeAt(std::array<std::string, AttributeTables::Size>& table, std::string_view tag, std::string value) {
    std::string text;
    if (!GetAttr(tag, "index", text))
        return;
    const std::optional<int> index = ParseInteger(text);
    if (!index) {
        const size_t indentation = std::min(tag.find_first_not_of(' '), tag.size());
        throw AttributeValueError(text, "index", std::string(tag.substr(indentation)));
    }
    if (*index >= 1 && *index <= AttributeTables::Size)
        table[size_t(*index - 1)] = std::move(value);
}

std::string attr(std::string_view tag, std::string_view name) {
    std::string value;
    GetAttr(tag, name, value);
    return value;
}
} // namespace

const std::string& AttributeTables::at(const std::array<std::string, Size>& table, int index) {
    static const std::string none;
    return index >= 1 && index <= Size ? table[size_t(index - 1)] : none;
}

TagScanner::TagScanner(std::vector<std::string>& memo, AttributeTables& tables, PlaylistValues& values,
                       std::vector<bool>* commentLines)
    : memo_(memo), tables_(tables), values_(values), commentLines_(commentLines) {}

void TagScanner::scan(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == '<') {
            inTag_ = true;
            ++depth_;
            tagInComment_ = inComment_;
        }
        if (byte == '-' && previous_ == '-' && beforePrevious_ == '!' && thirdPrevious_ == '<')
            inComment_ = tagInComment_ = true;
        if (inTag_) {
            // Line breaks and tabs inside a tag: one space per run.
            if (byte > 0x1F)
                tag_.push_back(char(byte));
            else if (tag_.empty() || tag_.back() != ' ')
                tag_.push_back(' ');
        }
        if (byte == '/' && previous_ == '<') {
            // A closing tag sits one level out: drop one indentation step.
            depth_ -= 2;
            if (tag_.size() >= 2 && tag_[0] == ' ' && tag_[1] == ' ')
                tag_.erase(0, 2);
        }
        if (byte == '>') {
            // "/>" ends an empty element, "?>" a processing instruction, "-->" a comment.
            const bool commentEnd = previous_ == '-' && beforePrevious_ == '-';
            endTag(previous_ == '/' || previous_ == '?' || commentEnd);
            if (commentEnd)
                inComment_ = false;
        }
        thirdPrevious_ = beforePrevious_;
        beforePrevious_ = previous_;
        previous_ = byte;
    }
}

void TagScanner::endTag(bool emptyElement) {
    inTag_ = false;
    memo_.push_back(tag_);
    if (commentLines_)
        commentLines_->push_back(tagInComment_ || inComment_);
    tagInComment_ = false;
    testTag(memo_.back());
    tag_.clear();
    if (emptyElement)
        --depth_;
    if (depth_ > 0)
        tag_.assign(size_t(std::min(depth_, MaxIndentLevels) * 2), ' ');
}

// The tests on every tag, case-sensitive and all of them, in this order.
void TagScanner::testTag(std::string_view tag) {
    if (tag.find("Playlist") != std::string_view::npos)
        GetAttr(tag, "displayName", values_.PlaylistName);
    if (tag.find("TitleSet") != std::string_view::npos) {
        GetAttr(tag, "timeBase", values_.TimeBase);
        GetAttr(tag, "tickBase", values_.TickBase);
    }
    if (tag.find("VideoAttributeItem") != std::string_view::npos)
        storeAt(tables_.VideoAttrTable, tag, attr(tag, "codec"));
    if (tag.find("AudioAttributeItem") != std::string_view::npos) {
        std::string codec = attr(tag, "codec");
        const std::string channels = attr(tag, "channels");
        if (!channels.empty())
            codec += "." + channels + "ch";
        storeAt(tables_.AudioAttrTable, tag, std::move(codec));
    }
    if (tag.find("SubpictureAttributeItem") != std::string_view::npos)
        storeAt(tables_.SubpictureAttrTable, tag, attr(tag, "codec"));
}

} // namespace halyard
