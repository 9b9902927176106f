#include "playlist/XplAttributes.h"

#include <algorithm>
#include <charconv>

namespace halyard {

namespace {
constexpr size_t AttrWindow = 255; // characters after the name that hold the value

char upper(char ch) {
    return ch >= 'a' && ch <= 'z' ? char(ch - 'a' + 'A') : ch;
}

size_t findCaseInsensitive(std::string_view text, std::string_view name) {
    if (name.empty())
        return std::string_view::npos;
    auto at = std::search(text.begin(), text.end(), name.begin(), name.end(),
                          [](char a, char b) { return upper(a) == upper(b); });
    return at == text.end() ? std::string_view::npos : size_t(at - text.begin());
}

void dropThrough(std::string_view& text, char mark) {
    const size_t at = text.find(mark);
    if (at != std::string_view::npos)
        text.remove_prefix(at + 1);
}
} // namespace

bool GetAttr(std::string_view tag, std::string_view name, std::string& destination) {
    const size_t at = findCaseInsensitive(tag, name);
    if (at == std::string_view::npos)
        return false;
    std::string_view rest = tag.substr(at + name.size(), AttrWindow);
    dropThrough(rest, '=');
    dropThrough(rest, '"');
    const size_t end = rest.find('"');
    destination.assign(end == std::string_view::npos ? std::string_view() : rest.substr(0, end));
    return true;
}

int GetAttrInt(std::string_view tag, std::string_view name) {
    std::string value;
    GetAttr(tag, name, value);
    return ParseInteger(value).value_or(0);
}

std::optional<int> ParseInteger(std::string_view text) {
    // from_chars takes a "-" but not a "+".
    const bool plus = !text.empty() && text.front() == '+';
    if (plus)
        text.remove_prefix(1);
    if (text.empty() || (plus && text.front() == '-'))
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool ContainsUpper(std::string_view text, std::string_view upperNeedle) {
    return findCaseInsensitive(text, upperNeedle) != std::string_view::npos;
}

} // namespace halyard
