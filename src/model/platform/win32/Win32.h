#pragma once
// What the Win32 side of the platform layer shares: UTF-8 and UTF-16, long paths and
// the system's errors.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "model/platform/SystemError.h"

namespace halyard::platform::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The full path of a path (GetFullPathNameW); empty when it has none.
std::wstring FullPath(const std::wstring& path);

// The path as the wide functions of the file system take it: made absolute (the
// current folder put in front, "." and ".." taken out, "/" turned into "\") and given
// the prefix \\?\ (\\?\UNC\ for \\server\share), under which a path may be longer than
// 260 characters. A device (\\.\NUL) and a path that has a prefix stay as they are.
std::wstring LongPath(const std::string& path);

// The error of a failed call: the Win32 error mapped to its errno value where one is
// near, with that value's text; else the system's own text.
SystemError ErrorOf(DWORD error);
[[noreturn]] void ThrowLastError();

// Closes a handle if it is one.
void CloseIfOpen(HANDLE& handle);

} // namespace halyard::platform::win32
