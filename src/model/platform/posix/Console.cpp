#include "model/platform/Console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace halyard::platform {

namespace {
volatile std::sig_atomic_t interruptRequested = 0;

void onInterrupt(int) {
    interruptRequested = 1;
}

int descriptorOf(StandardStream stream) {
    return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}
} // namespace

void SetUpStandardStreams() {}

bool HoldStandardStreams() {
    bool outputOpen = true;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY); // takes the lowest free number: fd
        outputOpen = outputOpen && fd != STDOUT_FILENO;
    }
    return outputOpen;
}

bool IsTerminal(StandardStream stream) {
    return ::isatty(descriptorOf(stream)) == 1;
}

bool TakesTerminalSequences(StandardStream stream) {
    return IsTerminal(stream);
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

void InstallInterruptHandler() {
    struct sigaction action{};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the program at once
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() {
    return interruptRequested != 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

} // namespace halyard::platform
