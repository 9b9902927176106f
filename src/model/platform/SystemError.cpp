#include "model/platform/SystemError.h"

#include <cstring>

#include "model/platform/Files.h"

namespace halyard::platform {

SystemError::SystemError(int code) : std::runtime_error(ErrorText(code)), code_(code) {}

std::string ErrorText(int code) {
    return std::strerror(code);
}

// The bytes of a path stand as they are on POSIX; on Windows they are UTF-8, which the
// library converts to and from UTF-16 as char8_t text.
std::filesystem::path FsPath(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace halyard::platform
