// The process on POSIX against a hostile start and end: closed descriptors, broken pipes, a parent that
// dies, Ctrl-C releasing the port at once, leftovers.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/console.h"
#include "core/loader_state.h"
#include "link/serial.h"
#include "production/process_guard.h"
#include "production/production.h"

namespace {

// Written before an interrupt can come, read by the handler: plain arrays, no allocation.
char g_leftover_file[4096];
char g_leftover_folder[4096];

const char kInterruptText[] =
    "\ninterrupted: the port is released; a device that entered its bootloader stays there "
    "until the next download\n";
// Its result for an interrupt (a worker's result event, a --json object), written by the handler
// around the seconds counted up to the interrupt.
char g_interrupt_report[8192];
size_t g_interrupt_report_length = 0;
size_t g_interrupt_seconds_at = 0;  // g_interrupt_report_length when the report has no seconds

// The operation's true result is fixed (its record written, or nothing runs): an interrupt then
// interrupts nothing, claims nothing and is only noted for the one waiting to be told.
volatile sig_atomic_t g_settled = 0;
volatile sig_atomic_t g_transfer_running = 0;
volatile sig_atomic_t g_interrupt_requested = 0;

// The last page was acknowledged: the download is done, whatever comes now.
bool DownloadJustFinished() { return g_transfer_running && g_loader.outcome == kOutcomeOk; }

void WriteInterruptReport() {
    if (!g_interrupt_report_length) return;
    char seconds[32];
    const size_t seconds_length =
        g_interrupt_seconds_at < g_interrupt_report_length ? FormatInterruptSeconds(seconds) : 0;
    const size_t tail = g_interrupt_report_length - g_interrupt_seconds_at;
    ssize_t ignored = write(STDOUT_FILENO, g_interrupt_report, g_interrupt_seconds_at);
    ignored = write(STDOUT_FILENO, seconds, seconds_length);
    ignored = write(STDOUT_FILENO, g_interrupt_report + g_interrupt_seconds_at, tail);
    (void)ignored;
}

// Only system calls here (ClosePort is an ioctl and a close), then write and _exit.
// ClosePort also drops the line's exclusive flag, which would otherwise outlive
// this process while another one (a simulator, a getty) keeps the line open.
void OnInterrupt(int) {
    if (g_settled || DownloadJustFinished()) {
        g_interrupt_requested = 1;
        return;
    }
    ClosePort();
    AppendInterruptRecord();
    RemoveInterruptLeftovers();
    const ssize_t ignored = write(STDERR_FILENO, kInterruptText, sizeof kInterruptText - 1);
    (void)ignored;
    WriteInterruptReport();
    _exit(kExitInterrupted);
}

}  // namespace

void GuardProcess() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        // open takes the lowest free descriptor, which is fd itself.
        if (null != fd && null >= 0) close(null);
    }
    signal(SIGPIPE, SIG_IGN);
}

void EndWithParent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have ended before the request took effect.
    if (getppid() != parent) _exit(kExitInterrupted);
}

size_t TerminalWidth() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 0;
    return size.ws_col;
}

void RemoveOnInterrupt(const char* file, const char* folder) {
    std::snprintf(g_leftover_file, sizeof g_leftover_file, "%s", file);
    std::snprintf(g_leftover_folder, sizeof g_leftover_folder, "%s", folder);
}

void RemoveInterruptLeftovers() {
    if (g_leftover_file[0]) unlink(g_leftover_file);
    if (g_leftover_folder[0]) rmdir(g_leftover_folder);
}

std::string InterruptNotice() { return std::string(kInterruptText + 1, sizeof kInterruptText - 3); }

void SetInterruptReport(const std::string& line) {
    g_interrupt_report_length = 0;
    if (line.size() > sizeof g_interrupt_report) return;
    line.copy(g_interrupt_report, line.size());
    const size_t mark = line.find(kInterruptSecondsMark);
    g_interrupt_seconds_at = mark == std::string::npos ? line.size() : mark;
    if (mark != std::string::npos) {
        const size_t after = mark + sizeof kInterruptSecondsMark - 1;
        line.copy(g_interrupt_report + mark, line.size() - after, after);
    }
    g_interrupt_report_length = mark == std::string::npos ? line.size() : line.size() - (sizeof kInterruptSecondsMark - 1);
}

void HoldInterrupts(int hold) {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal_number);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

void SettleOperation(int settled) {
    g_settled = settled;
    if (!settled) g_transfer_running = 0;
}

void MarkTransferRunning(int running) { g_transfer_running = running; }

int InterruptRequested() { return g_interrupt_requested; }

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
