#include "model/platform/MappedWindow.h"

#include "model/platform/win32/Win32.h"

namespace halyard::platform {

MappedWindow::~MappedWindow() = default;

bool MappedWindow::map(NativeHandle, int64_t, int64_t) {
    unmap();
    return false; // read by copy (see the header)
}

void MappedWindow::unmap() {
    data_ = nullptr;
    offset_ = 0;
    length_ = 0;
}

bool MappedWindow::cut() const { return false; }

std::chrono::nanoseconds ThreadCpuTime() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user))
        return {};
    const auto ticks = [](const FILETIME& time) {
        return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100); // in units of 100 ns
}

} // namespace halyard::platform
