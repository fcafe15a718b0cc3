// The process on POSIX against a hostile start: closed descriptors, broken pipes, a parent that dies, leftovers.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/process_guard.h"

namespace {

// Written before an interrupt can come, read by the handler: plain arrays, no allocation.
char g_leftover_file[4096];
char g_leftover_folder[4096];

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
