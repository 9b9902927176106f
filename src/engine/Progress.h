#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace halyard {

// How often a pack loop shows its progress and lets the window process its events.
inline constexpr int64_t ProgressInterval = 4 * 1024 * 1024;

// "P/S Mbytes, Remaining time: h:mm:ss" for a loop started at `start` that has come
// `position` bytes through a source of `size` bytes (position > 0).
std::string ProgressText(std::chrono::steady_clock::time_point start, int64_t position, int64_t size);

} // namespace halyard
