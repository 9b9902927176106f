#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "model/Error.h"

namespace halyard {

// "'TEXT' is not a valid integer value", for an attribute that must be an integer,
// with what a reader needs to find it: the attribute, its tag and the playlist.
class AttributeValueError : public Error {
public:
    AttributeValueError(const std::string& text, std::string attributeName, std::string tagText)
        : Error("'" + text + "' is not a valid integer value"), attribute(std::move(attributeName)),
          tag(std::move(tagText)) {}

    // "Playlist "PATH", attribute "index" of <TAG>:"
    std::string context() const {
        return "Playlist \"" + playlist + "\", attribute \"" + attribute + "\" of " + tag + ":";
    }

    std::string attribute;
    std::string tag;
    std::string playlist; // set by the reader that opened it
    bool logged = false;  // the context went into the log already
};

// Finds the attribute `name` in a tag's text: the first occurrence of the name,
// compared case-insensitively (it may be part of a longer word); of at most 255
// characters after it, the part past the first "=", then past the first double quote,
// up to the next double quote (empty when there is none). Returns false, and leaves
// the destination as it was, when the name does not occur.
bool GetAttr(std::string_view tag, std::string_view name, std::string& destination);

// The attribute read as a decimal integer; 0 when it is absent or not an integer.
int GetAttrInt(std::string_view tag, std::string_view name);

// The text as a 32-bit decimal integer (an optional sign and digits, nothing else).
std::optional<int> ParseInteger(std::string_view text);

// Whether the text contains `upperNeedle` when the text is upper-cased (ASCII).
bool ContainsUpper(std::string_view text, std::string_view upperNeedle);

} // namespace halyard
