#include "model/platform/MappedWindow.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace halyard::platform {

namespace {

// The windows the SIGBUS handler answers for. A handler may read only lock-free atomics.
struct Guard {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> cut{false};
};
constexpr size_t GuardCount = 4;
std::array<Guard, GuardCount> guards;
struct sigaction previousAction {};

uintptr_t pageSize() {
    static const uintptr_t size = uintptr_t(::sysconf(_SC_PAGESIZE));
    return size;
}

// A fault in a guarded window: the page of the fault and the rest of the window become
// zero bytes (an anonymous mapping in place of the file's), and the read is tried again.
// Any other SIGBUS goes to the handler that was there before, or ends the process.
void onBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Guard& guard : guards) {
        const uintptr_t begin = guard.begin.load();
        const uintptr_t end = guard.end.load();
        if (begin == 0 || address < begin || address >= end)
            continue;
        const uintptr_t page = address & ~(pageSize() - 1);
        void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            guard.cut.store(true);
            return;
        }
    }
    if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
        previousAction.sa_sigaction(signal, info, context);
        return;
    }
    if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN &&
        previousAction.sa_handler != nullptr) {
        previousAction.sa_handler(signal);
        return;
    }
    // The default action, when the faulting read is tried again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
}

void installHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousAction);
    });
}

} // namespace

MappedWindow::~MappedWindow() { unmap(); }

bool MappedWindow::map(NativeHandle fd, int64_t offset, int64_t length) {
    unmap();
    installHandler();
    void* mapped = ::mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, off_t(offset));
    if (mapped == MAP_FAILED)
        return false;
    ::madvise(mapped, size_t(length), MADV_SEQUENTIAL);
    const auto begin = reinterpret_cast<uintptr_t>(mapped);
    for (size_t i = 0; i < GuardCount; ++i) {
        uintptr_t free = 0;
        if (guards[i].begin.compare_exchange_strong(free, begin)) {
            guards[i].cut.store(false);
            guards[i].end.store(begin + uintptr_t(length));
            guard_ = int(i);
            break;
        }
    }
    if (guard_ < 0) { // more windows than guards: not one of them goes unguarded
        ::munmap(mapped, size_t(length));
        errno = EMFILE;
        return false;
    }
    data_ = static_cast<const uint8_t*>(mapped);
    offset_ = offset;
    length_ = length;
    return true;
}

void MappedWindow::unmap() {
    if (data_ == nullptr)
        return;
    Guard& guard = guards[size_t(guard_)];
    guard.end.store(0);
    guard.begin.store(0);
    ::munmap(const_cast<uint8_t*>(data_), size_t(length_));
    data_ = nullptr;
    offset_ = 0;
    length_ = 0;
    guard_ = -1;
}

bool MappedWindow::cut() const {
    return guard_ >= 0 && guards[size_t(guard_)].cut.load();
}

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace halyard::platform
