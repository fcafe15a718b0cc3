// Console details on Windows: terminal detection and the system's reasons.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "console/console.h"

int StderrIsTerminal() { return _isatty(_fileno(stderr)); }

int StdoutIsTerminal() { return _isatty(_fileno(stdout)); }

std::string PortOpenReason(const char*, int error) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(error), 0, text,
                   sizeof text, nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    if (error == ERROR_ACCESS_DENIED) reason += "; the port is held by another program";
    return reason;
}

std::string PortLabel(const char* port_name) { return port_name; }
