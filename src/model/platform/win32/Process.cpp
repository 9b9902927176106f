#include "model/platform/Process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "model/platform/Console.h"
#include "model/platform/Files.h"
#include "model/platform/win32/Win32.h"

namespace halyard::platform {

using namespace win32;

namespace {

// One argument as the child's C runtime (and CommandLineToArgvW) takes it apart again:
// in quotes when it is empty or holds a blank or a quote; a quote escaped with a
// backslash, and the backslashes before a quote or the closing quote doubled.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t ch : argument) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(ch == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        text += ch;
    }
    text.append(2 * backslashes, L'\\');
    return text + L"\"";
}

HANDLE inheritable(HANDLE handle) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

// Exit codes of a process that did not exit by itself: NTSTATUS values of an
// exception, STATUS_CONTROL_C_EXIT for Ctrl-C.
constexpr DWORD ControlCExit = 0xC000013A;
constexpr DWORD FirstErrorStatus = 0xC0000000;

bool hasExtension(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    const size_t separator = name.find_last_of("\\/:");
    return dot != std::string::npos && (separator == std::string::npos || dot > separator);
}

// The program file of a name in a folder: the name itself, or with .exe or .com.
std::string programFile(const std::string& path) {
    if (hasExtension(path) && IsRegularFile(path))
        return path;
    for (const char* extension : {".exe", ".com"})
        if (IsRegularFile(path + extension))
            return path + extension;
    return "";
}

} // namespace

Process::Process(const std::string& program, const std::vector<std::string>& arguments) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 0))
        ThrowLastError();
    HANDLE nothing = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
    std::wstring commandLine = quoted(Wide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + quoted(Wide(argument));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing != INVALID_HANDLE_VALUE ? inheritable(nothing) : nullptr;
    startup.hStdOutput = inheritable(writeEnd);
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION started{};
    // The child shares the console: Ctrl-C reaches it too, and this program decides
    // what to do about that.
    const BOOL ok = ::CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &started);
    const DWORD error = ::GetLastError();
    CloseIfOpen(writeEnd);
    CloseIfOpen(nothing);
    if (!ok) {
        CloseIfOpen(readEnd);
        throw ErrorOf(error);
    }
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    output_ = readEnd;
}

Process::~Process() {
    CloseIfOpen(output_);
    CloseIfOpen(process_);
}

// An anonymous pipe cannot be waited on with a time limit: it is looked at every few
// milliseconds until output comes, the child closes it, or the time is up.
Process::Output Process::readOutput(std::string& text, int timeoutMs) {
    if (output_ == nullptr)
        return Output::End;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) {
            CloseIfOpen(output_); // the child has closed its end
            return Output::End;
        }
        if (available > 0) {
            char buffer[4096];
            DWORD count = 0;
            if (!::ReadFile(output_, buffer, std::min<DWORD>(available, sizeof buffer), &count, nullptr) || count == 0) {
                CloseIfOpen(output_);
                return Output::End;
            }
            text.append(buffer, count);
            return Output::Data;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero() || Interrupted())
            return Output::Timeout;
        ::Sleep(DWORD(std::clamp<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count(), 1, 10)));
    }
}

// Windows has no request to stop that a program without a window of its own would
// get: it is ended.
void Process::requestStop() {
    if (::TerminateProcess(process_, 1))
        stopped_ = true;
}

void Process::kill() {
    if (::TerminateProcess(process_, 1))
        stopped_ = true;
}

bool Process::ended(Exit& exit, bool wait) {
    if (::WaitForSingleObject(process_, wait ? INFINITE : 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    if (stopped_)
        exit = {true, SIGTERM};
    else if (code == ControlCExit)
        exit = {true, SIGINT};
    else if (code >= FirstErrorStatus)
        exit = {true, 0}; // it crashed
    else
        exit = {false, int(code)};
    return true;
}

std::string FindProgram(const std::string& name) {
    if (name.empty())
        return "";
    if (name.find_first_of("\\/:") != std::string::npos)
        return programFile(name);
    const std::string folders = EnvironmentVariable("PATH").value_or("");
    for (size_t from = 0; from < folders.size();) {
        const size_t end = std::min(folders.find(';', from), folders.size());
        std::string folder = folders.substr(from, end - from);
        from = end + 1;
        folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
        if (folder.empty())
            continue;
        if (folder.back() != '\\' && folder.back() != '/')
            folder += '\\';
        const std::string found = programFile(folder + name);
        if (!found.empty())
            return found;
    }
    return "";
}

int SystemExitStatus(int result) {
    return result;
}

} // namespace halyard::platform
