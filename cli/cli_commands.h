// The commands of the tavboot command line, each returning the process exit status.
#pragma once
#include <string>
#include <vector>

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

extern const char kTavbootVersion[];  // "0.0.10"

struct DeviceOptions {
    std::string port = "COM1";
    std::string boot_value;  // 4 hex digits, empty: the build-time value
    std::string unlock_key;  // 8 hex digits, empty: the build-time key
    int retries = 0;         // a download failing at the line is tried again this often
    bool trace = false;      // every byte on the line to stderr
};

// The outcome of a download on one port.
struct PortResult {
    std::string port;
    int status;           // exit status of that download
    std::string message;  // "<caption>: <text>" of its last message box
    double seconds;
    int attempts = 1;
};

int RunInspect(const std::string& file, bool json);
// A warning line on stderr when the loaded file has data below 0x1000, which no download sends.
void WarnDataBelowFirstOffset();
int RunDownload(const DeviceOptions& options, const std::string& file);
int RunHwInfo(const DeviceOptions& options, bool json);
int RunAppInfo(const DeviceOptions& options, bool json);
int RunPorts(bool json);
// tavboot station: every port unattended, board after board, until Ctrl-C or `boards` successes.
int RunStation(const DeviceOptions& device, const std::vector<std::string>& ports, const std::string& file,
               int boards);
// Replaces a usb:SERIAL or usb:VID:PID[:SERIAL] selector by the one port it matches;
// other names stay. Prints the candidates and returns 0 when none or several match.
int ResolvePortSelector(std::string* port);
// download with every port named; several ports run in parallel processes.
int RunDownloads(DeviceOptions device, const std::vector<std::string>& ports, const std::string& ports_from,
                 const std::string& file, bool json);
int RunParallelDownloads(const DeviceOptions& device, const std::vector<std::string>& ports,
                         const std::string& file, bool json);
void PrintDownloadJson(const std::vector<PortResult>& results);

// With wanted, the line's bytes go to stderr as "trace: <ms> <direction> <hex bytes>"
// from now on, the time counted from this call.
void StartLineTrace(bool wanted);

// Puts the run-time enter-boot value and unlock key into the loader state.
void ApplyDeviceOverrides(const DeviceOptions& options);

// Platform: Ctrl-C or a termination request releases the port, says that the
// operation was interrupted (and the device stays in its bootloader during a
// download) and ends the process with status 130.
void InstallInterruptHandler();
// Platform: 1 when stderr is a terminal (progress is then drawn in place).
int StderrIsTerminal();
