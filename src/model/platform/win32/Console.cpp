#include "model/platform/Console.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

#include "model/platform/win32/Win32.h"

#include <shellapi.h> // after windows.h

namespace halyard::platform {

using namespace win32;

namespace {

std::atomic<bool> interruptRequested{false};
UINT consoleOutputPage = 0; // the console's code page before this program set UTF-8

// Runs on a thread of its own when Ctrl-C or Ctrl-Break is pressed. The first is noted
// for the job's next poll; a second goes on to the system's handler, which ends the
// program at once.
BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (interruptRequested.exchange(true))
        return FALSE;
    return TRUE;
}

HANDLE handleOf(StandardStream stream) {
    return ::GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

void restoreConsolePage() {
    if (consoleOutputPage != 0)
        ::SetConsoleOutputCP(consoleOutputPage);
}

} // namespace

void SetUpStandardStreams() {
    // Bytes as they are: a log or a JSON document is the same file as on any system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The program writes UTF-8; a console shows it so while the program runs.
    const UINT page = ::GetConsoleOutputCP();
    if (page != 0 && page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        consoleOutputPage = page;
        std::atexit(restoreConsolePage);
    }
}

bool HoldStandardStreams() {
    bool outputOpen = true;
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != intptr_t(INVALID_HANDLE_VALUE) && _get_osfhandle(fd) != -2)
            continue;
        FILE* stream = fd == 0 ? stdin : fd == 1 ? stdout : stderr;
        if (std::freopen("NUL", fd == 0 ? "rb" : "wb", stream) == nullptr)
            continue;
        outputOpen = outputOpen && fd != 1;
    }
    return outputOpen;
}

bool IsTerminal(StandardStream stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(handleOf(stream), &mode) != 0;
}

bool TakesTerminalSequences(StandardStream stream) {
    const HANDLE handle = handleOf(stream);
    DWORD mode = 0;
    if (!::GetConsoleMode(handle, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void IgnoreFileSizeSignal() {} // Windows has no file-size signal

void InstallInterruptHandler() {
    ::SetConsoleCtrlHandler(nullptr, FALSE); // Ctrl-C reaches a program whose parent had it ignored
    ::SetConsoleCtrlHandler(onControl, TRUE);
}

bool Interrupted() {
    return interruptRequested.load();
}

std::vector<std::string> CommandLineArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Utf8(words[i]));
    ::LocalFree(words);
    return arguments;
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
    const std::wstring wideName = Wide(name);
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), DWORD(value.size()));
        if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return std::nullopt;
        if (length < value.size()) {
            value.resize(length);
            return Utf8(value);
        }
        value.resize(length); // the length it needs, with its terminating null
    }
}

} // namespace halyard::platform
