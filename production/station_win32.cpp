// The station on Windows: a port's device found by opening it, workers in the supervisor's job, named events.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/loader_state.h"
#include "link/port_names.h"
#include "production/production.h"
#include "production/station.h"
#include "production/worker.h"

namespace {

// The port opened as download opens it; INVALID_HANDLE_VALUE with the system's reason otherwise.
HANDLE OpenDevice(const std::string& port, DWORD* error) {
    char path[kPortNameCapacity + 8];
    Win32DevicePath(port.c_str(), path, sizeof path);
    const HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    *error = device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return device;
}

}  // namespace

bool OpenErrorMeansHeld(int error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
}

bool PortDevicePresent(const std::string& port) {
    DWORD error = 0;
    const HANDLE device = OpenDevice(port, &error);
    if (device == INVALID_HANDLE_VALUE) return OpenErrorMeansHeld(int(error));
    CloseHandle(device);
    return true;
}

int RefuseNonSerialPorts(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        DWORD error = 0;
        const HANDLE device = OpenDevice(port, &error);
        if (device == INVALID_HANDLE_VALUE) continue;  // not there yet, or held: waited for
        DCB settings{};
        settings.DCBlength = sizeof settings;
        const bool serial = GetCommState(device, &settings) != 0;
        CloseHandle(device);
        if (serial) continue;
        std::fprintf(stderr, "tavboot: %s is not a serial port\n", port.c_str());
        return 1;
    }
    return 0;
}

// The supervisor's job ends every worker with it; the worker shares its console but leads a
// process group of its own.
int StationWorkerStart() { return kWorkerOwnProcessGroup | kWorkerEndsWithSupervisor; }

// A worker leads a process group of its own, where the console's Ctrl-C is off: Ctrl-C is the
// station's to decide. Its stop requests come as named events (PrepareWorkerProcess).
void HearStation() {}

// The job ends the worker when the station ends.
bool StationGone() { return false; }

void PauseBetweenLooks() { Sleep(500); }
