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
// In a worker: its result event for an interrupt, written to the supervisor by the handler.
char g_interrupt_report[1024];
size_t g_interrupt_report_length = 0;

// Only system calls here (ClosePort is an ioctl and a close), then write and _exit.
// ClosePort also drops the line's exclusive flag, which would otherwise outlive
// this process while another one (a simulator, a getty) keeps the line open.
void OnInterrupt(int) {
    ClosePort();
    AppendInterruptRecord();
    RemoveInterruptLeftovers();
    const ssize_t ignored = write(STDERR_FILENO, kInterruptText, sizeof kInterruptText - 1);
    (void)ignored;
    if (g_interrupt_report_length) {
        const ssize_t also_ignored = write(STDOUT_FILENO, g_interrupt_report, g_interrupt_report_length);
        (void)also_ignored;
    }
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
    g_interrupt_report_length = line.size();
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
