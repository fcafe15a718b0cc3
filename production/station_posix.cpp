// The station on POSIX: a port's device found by stat, a station's end by the parent's change, signals.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/loader_state.h"
#include "link/serial.h"
#include "production/production.h"
#include "production/station.h"
#include "production/worker.h"

namespace {

pid_t g_station = 0;  // the process that started this port's worker

std::string DevicePath(const std::string& port) {
    char path[kPortNameCapacity + 16];
    PortDevicePath(port.c_str(), path, sizeof path);
    return path;
}

}  // namespace

bool OpenErrorMeansHeld(int error) { return error == EBUSY || error == EWOULDBLOCK; }

bool PortDevicePresent(const std::string& port) {
    struct stat facts {};
    return stat(DevicePath(port).c_str(), &facts) == 0;
}

int RefuseNonSerialPorts(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        const std::string path = DevicePath(port);
        struct stat facts {};
        if (stat(path.c_str(), &facts) != 0) continue;  // not there yet: waited for
        bool terminal = S_ISCHR(facts.st_mode);
        const int fd = terminal ? open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
        if (fd >= 0) {
            terminal = isatty(fd) != 0;
            close(fd);
        }
        if (terminal) continue;
        std::fprintf(stderr, "tavboot: %s is not a serial port (not a terminal)\n", port.c_str());
        return 1;
    }
    return 0;
}

// Each port's worker leads a process group of its own; a station that is killed lets its running
// downloads finish (its workers see it gone between two boards).
int StationWorkerStart() { return kWorkerOwnProcessGroup; }

// The station's stop-now request is a termination signal: an interrupt as Ctrl-C is to a download.
void HearStation() {
    g_station = getppid();
    InstallInterruptHandler();
}

bool StationGone() { return getppid() != g_station; }

void PauseBetweenLooks() { usleep(500000); }
