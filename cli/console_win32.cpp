// Console details on Windows: terminal detection, and Ctrl-C releasing the port at once.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "core/loader_state.h"
#include "cli/cli_commands.h"
#include "cli/run_log.h"
#include "link/serial.h"

namespace {

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD) {
    ClosePort();
    AppendInterruptRecord();
    static const char kText[] =
        "\ninterrupted: the port is released; a device that entered its bootloader stays there "
        "until the next download\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    ExitProcess(kExitInterrupted);
}

}  // namespace

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

// Windows gives every process its standard handles and raises no signal on a broken pipe.
void GuardProcess() {}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
