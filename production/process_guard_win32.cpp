// The process on Windows: Ctrl-C releasing the port at once; the system guards the rest.
#include <windows.h>

#include <string>

#include "console/console.h"
#include "link/serial.h"
#include "production/process_guard.h"
#include "production/production.h"

namespace {

const char kInterruptText[] =
    "\ninterrupted: the port is released; a device that entered its bootloader stays there "
    "until the next download\n";
std::string g_interrupt_report;  // set again as each attempt begins: the handler's thread copies it under the lock
SRWLOCK g_interrupt_report_lock = SRWLOCK_INIT;
volatile LONG g_settled = 0;
volatile LONG g_interrupt_requested = 0;

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD) {
    ActOnInterrupt();
    return TRUE;
}

}  // namespace

void ActOnInterrupt() {
    if (g_settled) {
        g_interrupt_requested = 1;
        return;
    }
    ClosePort();
    AppendInterruptRecord();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kInterruptText, sizeof kInterruptText - 1, &written, nullptr);
    AcquireSRWLockExclusive(&g_interrupt_report_lock);
    std::string report = g_interrupt_report;
    ReleaseSRWLockExclusive(&g_interrupt_report_lock);
    const size_t mark = report.find(kInterruptSecondsMark);
    char seconds[32];
    if (mark != std::string::npos)
        report.replace(mark, sizeof kInterruptSecondsMark - 1, seconds, FormatInterruptSeconds(seconds));
    if (!report.empty())
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), report.data(), DWORD(report.size()), &written, nullptr);
    ExitProcess(kExitInterrupted);
}

std::string InterruptNotice() { return std::string(kInterruptText + 1, sizeof kInterruptText - 3); }

void SetInterruptReport(const std::string& line) {
    AcquireSRWLockExclusive(&g_interrupt_report_lock);
    g_interrupt_report = line;
    ReleaseSRWLockExclusive(&g_interrupt_report_lock);
}

void HoldInterrupts(int) {}

void SettleOperation(int settled) { g_settled = settled; }

void MarkTransferRunning(int) {}

int InterruptRequested() { return g_interrupt_requested != 0; }

// Windows gives every process its standard handles and raises no signal on a broken pipe.
void GuardProcess() {}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

// Columns of the console on stderr, its escape sequences switched on (Windows 10 on) for
// the lines redrawn in place; 0 when it has none.
size_t TerminalWidth() {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    DWORD mode = 0;
    if (!GetConsoleScreenBufferInfo(console, &info) || !GetConsoleMode(console, &mode)) return 0;
    SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return size_t(info.srWindow.Right - info.srWindow.Left + 1);
}
