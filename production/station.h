// The station's pieces that differ between systems (station_posix.cpp, station_win32.cpp), and its
// decisions that depend on time alone.
#pragma once
#include <string>
#include <vector>

// Seconds between two "waiting for PORT: not present" lines while the port stays away.
const double kAbsentRepeat = 60;
// said_at when the line was not said since the port was last there.
const double kAbsentNeverSaid = -1;

// The line is due now: the first time the port is found away, then once a minute while it stays away.
inline bool AbsentLineDue(double now, double said_at) {
    return said_at == kAbsentNeverSaid || now - said_at >= kAbsentRepeat;
}

// The device behind the port's name (COMn as download opens it) exists; a port another program
// holds exists too.
bool PortDevicePresent(const std::string& port);
// The system's reason for a failed open (g_loader.port_open_error) says another program holds the port.
bool OpenErrorMeansHeld(int error);
// A port that exists but is no serial line (the null device, a folder, a file) can hold no board:
// said on stderr, 1. Ports not there yet are waited for.
int RefuseNonSerialPorts(const std::vector<std::string>& ports);
// How the station starts its port workers (WorkerStart flags).
int StationWorkerStart();
// In a port's worker, first: its supervisor's requests are heard (the station's stop requests
// only: a console's Ctrl-C is the station's to decide).
void HearStation();
// In a port's worker: the station that started it is gone.
bool StationGone();
// Between two looks at a port.
void PauseBetweenLooks();
