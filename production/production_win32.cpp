// Several ports at once and the station need the processes of POSIX; on Windows they say so.
#include <cstdio>

#include "console/console.h"
#include "production/production.h"
#include "production/worker.h"

namespace {

int NotOnWindows(const char* what) {
    std::fprintf(stderr, "tavboot: %s is available on Linux only\n", what);
    return kExitUsage;
}

}  // namespace

int RunStation(const DeviceOptions&, const std::vector<std::string>&, const std::string&, int) {
    return NotOnWindows("station");
}

int ServeStationPort(const DeviceOptions&, const std::string&) { return NotOnWindows("station"); }

int DownloadOnSeveralPorts(const DeviceOptions&, const std::vector<std::string>&, const std::string&,
                           std::vector<PortResult>*) {
    return NotOnWindows("downloading into several ports at once");
}
