// The station is not yet served on Windows: it says so.
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
