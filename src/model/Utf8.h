#pragma once
// File names are bytes: on Linux a name need not be UTF-8. What hands a name on as
// text (JSON, an option file) must know whether it is.
#include <string>
#include <string_view>

namespace halyard {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The bytes as lower-case hexadecimal digits, two per byte.
std::string HexBytes(std::string_view bytes);

} // namespace halyard
