// tavboot station: each port's worker waits for a board, downloads it, waits for its removal; the station counts.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "production/production.h"
#include "production/worker.h"

namespace {

const useconds_t kPollInterval = 500000;  // between two looks at an empty port
const double kRemovedAfter = 2.0;         // seconds without an answer: the board is gone

// The station's own signals: the first Ctrl-C stops new boards, the second interrupts.
volatile sig_atomic_t g_interrupts = 0;
// In a port's process: take no new board (the first Ctrl-C, or enough boards done).
volatile sig_atomic_t g_no_new_boards = 0;

void OnStationInterrupt(int) { ++g_interrupts; }
// A termination request does not wait for running downloads.
void OnStationTerminate(int) { g_interrupts = 2; }
void OnNoNewBoards(int) { g_no_new_boards = 1; }

struct StationPort {
    std::string port;
    WorkerProcess* worker;  // nullptr once it has ended, or when none could be started
    int ok;
    int failed;
    int status;             // the worker's exit status, -1 while it runs or when it never started
};

// A board is there when the port exists and something answers the application-info
// request (the application runs) or a sync byte (the bootloader runs).
bool BoardAnswers(const std::string& port) {
    struct stat facts {};
    if (stat(port.c_str(), &facts) != 0 || !OpenPort(port.c_str(), "19200", kShortReadTimeoutMs)) return false;
    bool answered = ReadApplicationInfo(g_loader.transmit, g_loader.receive) != 0;
    if (!answered) {
        const uint8_t sync = kSyncByte;
        uint8_t status = 0;
        WritePort(&sync, 1);
        answered = ReadPort(&status, 1) == 1;
    }
    ClosePort();
    return answered;
}

// The station itself ended (killed): its port processes end with it.
bool StationGone(pid_t station) { return getppid() != station; }

// Told to stop, by the station or by an interrupt while no download runs.
bool PortStops(pid_t station) { return g_no_new_boards || InterruptRequested() || StationGone(station); }

bool WaitForBoard(const std::string& port, pid_t station) {
    if (g_no_new_boards) return false;
    std::fprintf(stderr, "[%s] waiting for a board\n", port.c_str());
    while (!PortStops(station)) {
        if (BoardAnswers(port)) return !PortStops(station);
        usleep(kPollInterval);
    }
    return false;
}

void WaitForRemoval(const std::string& port, pid_t station) {
    double last_answer = MonotonicSeconds();
    while (!PortStops(station) && MonotonicSeconds() - last_answer < kRemovedAfter) {
        if (BoardAnswers(port)) last_answer = MonotonicSeconds();
        usleep(kPollInterval);
    }
}

// Each port's worker leads a process group of its own: a terminal's Ctrl-C reaches
// only the station, which decides what the ports do.
void StartPort(const DeviceOptions& device, const std::string& file, StationPort* port) {
    DeviceOptions own = device;
    own.port = port->port;
    port->worker = StartWorker(WorkerArguments("station", own, file, false), kWorkerOwnProcessGroup, "");
}

void SignalPorts(const std::vector<StationPort>& ports, WorkerStop how) {
    for (const StationPort& port : ports)
        if (port.worker) StopWorker(port.worker, how);
}

int TotalOk(const std::vector<StationPort>& ports) {
    int total = 0;
    for (const StationPort& port : ports) total += port.ok;
    return total;
}

// A board counts by its result event; an interrupted download is neither done nor failed.
void TakeResults(StationPort& port) {
    WorkerEvent event;
    while (NextWorkerEvent(port.worker, &event)) {
        if (event.name != "result" || event.Field("outcome") == OutcomeKey(kOutcomeInterrupted)) continue;
        (JudgeWorker(&event, kExitOk).status == kExitOk ? port.ok : port.failed) += 1;
    }
}

void Supervise(std::vector<StationPort>& ports, int boards) {
    int stopping = 0;
    for (;;) {
        std::vector<WorkerProcess*> running;
        for (const StationPort& port : ports)
            if (port.worker) running.push_back(port.worker);
        if (running.empty()) break;
        WaitForWorkers(running, 200);
        for (StationPort& port : ports) {
            if (!port.worker) continue;
            TakeResults(port);
            if (!WorkerFinished(port.worker, &port.status)) continue;
            EndWorker(port.worker);
            port.worker = nullptr;
        }
        const int wanted = g_interrupts ? 1 + (g_interrupts > 1) : boards && TotalOk(ports) >= boards ? 1 : 0;
        if (wanted == 1 && stopping == 0) {
            if (g_interrupts) std::fprintf(stderr, "station: no new boards; running downloads finish "
                                                   "(Ctrl-C again interrupts them)\n");
            else std::fprintf(stderr, "station: %d boards done\n", TotalOk(ports));
            SignalPorts(ports, kWorkerStopNewWork);
        }
        if (wanted == 2 && stopping < 2) SignalPorts(ports, kWorkerStopNow);
        if (wanted > stopping) stopping = wanted;
    }
}

int PrintCounts(const std::vector<StationPort>& ports) {
    int status = kExitOk;
    std::fprintf(stderr, "\n%-24s %6s %6s\n", "port", "ok", "failed");
    for (const StationPort& port : ports) {
        std::fprintf(stderr, "%-24s %6d %6d\n", port.port.c_str(), port.ok, port.failed);
        if (port.failed || port.status < 0 || port.status == kExitFailed) status = status == kExitOk ? kExitFailed : status;
        if (port.status == kExitInterrupted) status = kExitInterrupted;
    }
    return status;
}

}  // namespace

int RunStation(const DeviceOptions& device, const std::vector<std::string>& ports, const std::string& file,
               int boards) {
    struct sigaction action {};
    action.sa_handler = OnStationInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = OnStationTerminate;
    sigaction(SIGTERM, &action, nullptr);
    std::fflush(stdout);
    std::vector<StationPort> station;
    for (const std::string& port : ports) {
        station.push_back({port, nullptr, 0, 0, -1});
        StartPort(device, file, &station.back());
    }
    Supervise(station, boards);
    return PrintCounts(station);
}

int ServeStationPort(const DeviceOptions& device, const std::string& file) {
    const pid_t station = getppid();
    struct sigaction action {};
    action.sa_handler = OnNoNewBoards;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    InstallInterruptHandler();
    SettleOperation(1);  // waiting for a board interrupts no download
    g_console.stderr_is_terminal = 0;
    g_console.line_prefix = "[" + device.port + "] ";
    while (WaitForBoard(device.port, station)) {
        const double started = MonotonicSeconds();
        int attempts = 1;
        const int status = DownloadWithRetries(device, file, "station", &attempts);
        if (!ReportWorkerResult(status, attempts, MonotonicSeconds() - started)) break;
        if (status == kExitOk) std::fprintf(stderr, "[%s] done, remove the board\n", device.port.c_str());
        else std::fprintf(stderr, "[%s] FAILED: %s\n", device.port.c_str(), g_console.last_box.c_str());
        WaitForRemoval(device.port, station);
        ResetLoaderState();
        InitConsole();
        g_console.stderr_is_terminal = 0;
        g_console.line_prefix = "[" + device.port + "] ";
    }
    return kExitOk;
}
