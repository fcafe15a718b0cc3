// Console details on POSIX: terminal detection, and Ctrl-C releasing the port at once.
#include <signal.h>
#include <unistd.h>

#include "core/loader_state.h"
#include "cli/cli_commands.h"
#include "cli/run_log.h"
#include "link/serial.h"

namespace {

// Only system calls here (ClosePort is an ioctl and a close), then write and _exit.
// ClosePort also drops the line's exclusive flag, which would otherwise outlive
// this process while another one (a simulator, a getty) keeps the line open.
void OnInterrupt(int) {
    ClosePort();
    AppendInterruptRecord();
    static const char kText[] =
        "\ninterrupted: the port is released; a device that entered its bootloader stays there "
        "until the next download\n";
    const ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    _exit(kExitInterrupted);
}

}  // namespace

int StderrIsTerminal() { return isatty(STDERR_FILENO); }

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
