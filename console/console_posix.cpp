// Console details on POSIX: terminals and the system's reasons.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "console/console.h"
#include "core/loader_state.h"
#include "link/serial.h"

int StderrIsTerminal() { return isatty(STDERR_FILENO); }

int StdoutIsTerminal() { return isatty(STDOUT_FILENO); }

std::string SystemErrorText(int error) { return std::strerror(error); }

std::string PortOpenReason(const char* port_name, int error) {
    const std::string text = SystemErrorText(error);
    if (error == EWOULDBLOCK || error == EBUSY) return text + "; the port is held by another program";
    if (error == EACCES || error == EPERM) return text + "; is your user in the dialout group?";
    if (error == ENOTTY || error == EINVAL) return "not a serial line";
    char path[kPortNameCapacity + 16];
    PortDevicePath(port_name, path, sizeof path);
    if (error == ENOENT && std::strchr(path, '/') == nullptr) return text + "; ports are COM1, COM2, ... or a device path";
    return text;
}

std::string FileErrorText(int error) { return SystemErrorText(error); }

void UseUtf8Console() {}

int ExplainedToLoneConsole(int) { return 0; }

int ArgumentsArrivedWhole(std::string*) { return 1; }

void KeepSystemAwake() {}

std::string PortLabel(const char* port_name) {
    char path[kPortNameCapacity + 16];
    PortDevicePath(port_name, path, sizeof path);
    return std::strcmp(path, port_name) == 0 ? port_name : std::string(port_name) + " (" + path + ")";
}

// tavboot asks the driver for low latency at every open; answers that still come
// late mean the driver did not give it.
std::string SlowLineAdvice(const char* port_name) {
    char path[kPortNameCapacity + 16];
    PortDevicePath(port_name, path, sizeof path);
    const char* name = std::strrchr(path, '/') ? std::strrchr(path, '/') + 1 : path;
    return std::string("the driver did not give the low latency tavboot asked for: set it with `setserial ") + path +
           " low_latency` or `echo 1 > /sys/bus/usb-serial/devices/" + name + "/latency_timer` (README: USB serial adapters)";
}
