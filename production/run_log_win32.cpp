// The run log's file on Windows: opened for appending only, so each whole write lands at the end.
#include <windows.h>
#include <cerrno>
#include <fcntl.h>
#include <io.h>

#include "production/run_log_file.h"

int OpenAppendFile(const char* path) {
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                : error == ERROR_SHARING_VIOLATION                            ? EBUSY
                                                                               : EACCES;
        return -1;
    }
    return _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY);
}

int AppendWhole(int file, const char* text, size_t size) {
    DWORD written = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    return WriteFile(handle, text, DWORD(size), &written, nullptr) && written == size;
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = sizeof name;
    return GetComputerNameA(name, &length) ? std::string(name, length) : std::string();
}

// In UTF-8, whatever the code page: a name the ANSI page cannot spell stays whole.
std::string UserName() {
    wchar_t name[256];
    const DWORD length = GetEnvironmentVariableW(L"USERNAME", name, 256);
    if (length == 0 || length >= 256) return "";
    char utf8[1024];
    const int size = WideCharToMultiByte(CP_UTF8, 0, name, int(length), utf8, sizeof utf8, nullptr, nullptr);
    return size > 0 ? std::string(utf8, size_t(size)) : std::string();
}
