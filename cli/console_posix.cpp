// Console details on POSIX: terminals, the system's reasons, and Ctrl-C releasing the port at once.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/loader_state.h"
#include "cli/cli_commands.h"
#include "cli/run_log.h"
#include "cli/process_guard.h"
#include "link/serial.h"

namespace {

// Only system calls here (ClosePort is an ioctl and a close), then write and _exit.
// ClosePort also drops the line's exclusive flag, which would otherwise outlive
// this process while another one (a simulator, a getty) keeps the line open.
void OnInterrupt(int) {
    ClosePort();
    AppendInterruptRecord();
    RemoveInterruptLeftovers();
    static const char kText[] =
        "\ninterrupted: the port is released; a device that entered its bootloader stays there "
        "until the next download\n";
    const ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    _exit(kExitInterrupted);
}

}  // namespace

int StderrIsTerminal() { return isatty(STDERR_FILENO); }

int StdoutIsTerminal() { return isatty(STDOUT_FILENO); }

std::string PortOpenReason(const char* port_name, int error) {
    const std::string text = std::strerror(error);
    if (error == EWOULDBLOCK || error == EBUSY) return text + "; the port is held by another program";
    if (error == EACCES || error == EPERM) return text + "; is your user in the dialout group?";
    if (error == ENOTTY || error == EINVAL) return "not a serial line";
    char path[kPortNameCapacity + 16];
    PortDevicePath(port_name, path, sizeof path);
    if (error == ENOENT && std::strchr(path, '/') == nullptr) return text + "; ports are COM1..COM9 or a device path";
    return text;
}

std::string PortLabel(const char* port_name) {
    char path[kPortNameCapacity + 16];
    PortDevicePath(port_name, path, sizeof path);
    return std::strcmp(path, port_name) == 0 ? port_name : std::string(port_name) + " (" + path + ")";
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
