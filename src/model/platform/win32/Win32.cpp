#include "model/platform/win32/Win32.h"

#include <cerrno>

namespace halyard::platform::win32 {

namespace {

// Win32 errors and the errno values the program's texts name them by.
struct ErrorMapping {
    DWORD error;
    int code;
};
constexpr ErrorMapping Mappings[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},      {ERROR_PATH_NOT_FOUND, ENOENT},     {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},         {ERROR_BAD_NET_NAME, ENOENT},       {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},       {ERROR_WRITE_PROTECT, EROFS},       {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},      {ERROR_DISK_FULL, ENOSPC},          {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_BROKEN_PIPE, EPIPE},          {ERROR_NO_DATA, EPIPE},             {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_NOT_SAME_DEVICE, EXDEV},      {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_CRC, EIO},                    {ERROR_SECTOR_NOT_FOUND, EIO},      {ERROR_READ_FAULT, EIO},
    {ERROR_WRITE_FAULT, EIO},            {ERROR_GEN_FAILURE, EIO},           {ERROR_IO_DEVICE, EIO},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},   {ERROR_OUTOFMEMORY, ENOMEM},        {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_DIRECTORY, ENOTDIR},          {ERROR_FILE_TOO_LARGE, EFBIG},      {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
};

std::string systemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
                                          reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = length > 0 ? Utf8(std::wstring_view(text, length)) : "";
    ::LocalFree(text);
    // The system writes a sentence with a line break; the program's texts put a reason
    // after a sentence of their own.
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                               reason.back() == '.'))
        reason.pop_back();
    return reason.empty() ? "Windows error " + std::to_string(error) : reason;
}

} // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = path.empty() ? 0 : ::GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
        if (length == 0)
            return {};
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length); // the length it needs, with its terminating null
    }
}

std::wstring LongPath(const std::string& path) {
    const std::wstring wide = Wide(path);
    if (wide.empty() || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0)
        return wide;
    const std::wstring full = FullPath(wide);
    if (full.empty())
        return wide; // the call that takes it says why
    if (full.rfind(L"\\\\.\\", 0) == 0) // a device: NUL, CON
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

SystemError ErrorOf(DWORD error) {
    for (const ErrorMapping& mapping : Mappings)
        if (mapping.error == error)
            return SystemError(mapping.code);
    // A sharing violation is best said in the system's words: another program has the file open.
    return SystemError(error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? EACCES : 0,
                       systemText(error));
}

void ThrowLastError() {
    throw ErrorOf(::GetLastError());
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    handle = nullptr;
}

} // namespace halyard::platform::win32
