#pragma once
// What differs between the systems Halyard runs on stays behind the headers of this
// folder (files, locks, the console, signals, other programs, memory-mapped reading).
// Each has one implementation in posix/ and one in win32/, and the build takes the one
// of its target; the rest of the program is the same everywhere. Paths are UTF-8
// strings throughout: on Windows the implementation converts them to UTF-16.
//
// This header holds the few constants that differ.

namespace halyard::platform {

#ifdef _WIN32
inline constexpr bool IsWindows = true;
// The folder separator the system writes; Windows takes "/" as well.
inline constexpr char PathSeparator = '\\';
// A file that swallows what is written to it.
inline constexpr const char* NullDevice = "NUL";
// What a handle of the system is: a HANDLE, null for none.
using NativeHandle = void*;
inline constexpr NativeHandle NoHandle = nullptr;
#else
inline constexpr bool IsWindows = false;
inline constexpr char PathSeparator = '/';
inline constexpr const char* NullDevice = "/dev/null";
// A file descriptor, -1 for none.
using NativeHandle = int;
inline constexpr NativeHandle NoHandle = -1;
#endif

// True for a folder separator of the system.
constexpr bool IsPathSeparator(char ch) {
    return ch == PathSeparator || (IsWindows && ch == '/');
}

} // namespace halyard::platform
