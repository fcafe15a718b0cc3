// Console details on Windows: terminal detection and the system's reasons.
#include <windows.h>
#include <io.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "console/console.h"

int StderrIsTerminal() { return _isatty(_fileno(stderr)); }

int StdoutIsTerminal() { return _isatty(_fileno(stdout)); }

std::string SystemErrorText(int error) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(error), 0, text,
                   sizeof text, nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}

std::string PortOpenReason(const char*, int error) {
    const std::string reason = SystemErrorText(error);
    return error == ERROR_ACCESS_DENIED ? reason + "; the port is held by another program" : reason;
}

std::string PortLabel(const char* port_name) { return port_name; }

std::string SlowLineAdvice(const char*) {
    return "set the adapter's latency timer to 2 ms in Device Manager (README: USB serial adapters)";
}

std::string FileErrorText(int error) {
    return error == ERROR_SHARING_VIOLATION ? "the file is held by another program" : SystemErrorText(error);
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

int ExplainedToLoneConsole(int argc) {
    DWORD processes[2];
    if (argc > 1 || GetConsoleProcessList(processes, 2) != 1) return 0;
    std::printf("tavboot: firmware download through the serial bootloader, for the command line.\n"
                "Run it from a Command Prompt or PowerShell window, for example:\n"
                "  tavboot download --port COM3 C:\\firmware\\app.hex\n"
                "  tavboot hwinfo --port COM3\n"
                "  tavboot --help\n"
                "The window program is tavboot-gui.exe.\n\n"
                "Press Enter to close this window.\n");
    std::fflush(stdout);
    std::getchar();
    return 1;
}

// With UTF-8 as the code page (the manifest, Windows 10 1903 on) every name arrives whole; before,
// the system would pass a similar character instead (fw_r.hex for fw_\u0159.hex): refused.
int ArgumentsArrivedWhole(std::string* why) {
    if (GetACP() == CP_UTF8) return 1;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return 1;
    int whole = 1;
    for (int i = 1; i < count && whole; ++i) {
        // Through the code page and back: a replaced character does not come back as it was.
        std::string narrow(4 * std::wcslen(arguments[i]) + 1, '\0');
        std::wstring back(std::wcslen(arguments[i]) + 1, L'\0');
        WideCharToMultiByte(CP_ACP, 0, arguments[i], -1, &narrow[0], int(narrow.size()), nullptr, nullptr);
        MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, &back[0], int(back.size()));
        if (std::wcscmp(back.c_str(), arguments[i]) == 0) continue;
        whole = 0;
        *why = "argument " + std::to_string(i) + " holds characters that this Windows cannot pass in its code page " +
               std::to_string(GetACP()) + "; rename the file or use Windows 10 version 1903 or later";
    }
    LocalFree(arguments);
    return whole;
}

void KeepSystemAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }
