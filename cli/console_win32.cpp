// Console details on Windows: terminal detection, and Ctrl-C releasing the port at once.
#include <windows.h>
#include <io.h>

#include <cstdio>

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

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
