// The process on Windows: Ctrl-C releasing the port at once; the system guards the rest.
#include <windows.h>

#include "console/console.h"
#include "link/serial.h"
#include "production/production.h"

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

// Windows gives every process its standard handles and raises no signal on a broken pipe.
void GuardProcess() {}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
