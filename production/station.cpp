// tavboot station: each port's worker waits for a board, downloads it, waits for its removal; the station counts.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "ports/ports.h"
#include "production/production.h"
#include "production/station.h"
#include "production/worker.h"

namespace {

struct StationPort {
    std::string port;
    WorkerProcess* worker;  // nullptr once it has ended, or when none could be started
    int ok;
    int failed;
    int status;             // the worker's exit status, -1 while it runs or when it never started
    double started;         // when its worker was started
    bool result_pending;    // a download began and its result has not come
    int interrupted;        // downloads an interrupt ended
};

const double kRestartAfter = 1.0;  // a worker that ends sooner after its start is not started again

// What a look at a port found.
enum PortLook {
    kPortAbsent,       // the device is not there (or cannot be opened)
    kPortBusy,         // another program holds it: whatever is plugged stays as it was
    kPortSilent,
    kPortApplication,  // an application answered, its identity read
    kPortBootloader,   // a bootloader answered the sync byte
};

// Asks the application-info request (the application runs) or a sync byte (the bootloader
// runs), input left on the line dropped first: stale bytes are no board.
PortLook LookAtPort(const std::string& port, AppIdentity* seen) {
    if (!PortDevicePresent(port)) return kPortAbsent;
    int busy = 0;
    if (ReadRunningApplication(port, seen, &busy)) return kPortApplication;
    if (busy || OpenErrorMeansHeld(g_loader.port_open_error)) return kPortBusy;
    if (!OpenPort(port.c_str(), "19200", kShortReadTimeoutMs))
        return OpenErrorMeansHeld(g_loader.port_open_error) ? kPortBusy : kPortAbsent;
    ClearReceiveQueue();
    const uint8_t sync = kSyncByte;
    uint8_t status = 0;
    WritePort(&sync, 1);
    const bool answered = ReadPort(&status, 1) == 1;
    ClosePort();
    return answered ? kPortBootloader : kPortSilent;
}

// Told to stop (no new boards: the first Ctrl-C, or enough boards done), by an interrupt while no
// download runs, or the station itself ended (killed).
bool PortStops() { return NewWorkStopped() || InterruptRequested() || StationGone(); }

// The device a port's name or selector stands for now; a selector no adapter matches names none.
bool ResolveNow(const std::string& selector, std::string* port) {
    std::string why;
    *port = selector;
    return ResolvePortSelector(port, &why) != 0;
}

// Waits for a board on selector; *port the device it came on.
bool WaitForBoard(const std::string& selector, std::string* port) {
    if (NewWorkStopped()) return false;
    std::fprintf(stderr, "[%s] waiting for a board\n", selector.c_str());
    ReportWorkerEvent({"waiting", {}});
    double absent_said = kAbsentNeverSaid;
    bool shared_said = false;
    while (!PortStops()) {
        AppIdentity seen;
        const bool resolved = ResolveNow(selector, port);
        const bool claimed = resolved && ClaimDevice(*port);
        if (resolved && !claimed && !shared_said) {
            std::fprintf(stderr, "[%s] %s is already served by another station port\n", selector.c_str(), port->c_str());
            shared_said = true;
        }
        const PortLook look = claimed ? LookAtPort(*port, &seen) : resolved ? kPortBusy : kPortAbsent;
        if (look == kPortApplication || look == kPortBootloader)
            return !PortStops() && (ReportWorkerEvent({"board", {{"device", *port}}}), true);
        ReleaseDevice();
        const bool away = look == kPortAbsent && !(resolved && PortDevicePresent(*port));
        if (away && AbsentLineDue(MonotonicSeconds(), absent_said)) {
            std::fprintf(stderr, "waiting for %s: not present\n", selector.c_str());
            absent_said = MonotonicSeconds();
        }
        if (look != kPortAbsent) absent_said = kAbsentNeverSaid;
        PauseBetweenLooks();
    }
    return false;
}

// The board just served stays until its port goes away or something else answers there: another
// application, or a bootloader. A board still showing the identity just flashed is the same
// board, however long it was silent. Without an identity, silence for the removal time ends it.
void WaitForRemoval(const std::string& port, const AppIdentity& flashed, double removal_time) {
    const bool known = !flashed.name.empty();
    double last_answer = MonotonicSeconds();
    bool said = false;
    while (!PortStops()) {
        AppIdentity seen;
        const PortLook look = LookAtPort(port, &seen);
        if (look == kPortAbsent) return;
        const bool same = look == kPortApplication && known && seen == flashed;
        if (same && !said) {
            std::fprintf(stderr, "[%s] the board still shows %s %s; remove it\n", port.c_str(),
                         Printable(flashed.name).c_str(), Printable(flashed.fw_version).c_str());
            said = true;
        }
        if (known && (look == kPortApplication || look == kPortBootloader) && !same) return;
        if (look != kPortSilent) last_answer = MonotonicSeconds();
        if (!known && MonotonicSeconds() - last_answer >= removal_time) return;
        PauseBetweenLooks();
    }
}

// A terminal's Ctrl-C reaches only the station, which decides what the ports do.
void StartPort(const DeviceOptions& device, const std::string& file, StationPort* port) {
    DeviceOptions own = device;
    own.port = port->port;
    port->worker = StartWorker(WorkerArguments("station", own, file, true), StationWorkerStart(), LoadedImageInput());
    port->started = MonotonicSeconds();
    // A port left unserved is said, never silent (its count then ends the station with 1).
    if (!port->worker) std::fprintf(stderr, "station: no process could be started for %s; the port is not served\n",
                                    port->port.c_str());
}

// A download its worker left without a result failed: counted, and its record written here, so that
// the counts equal the records.
void CountLostDownload(const std::string& file, StationPort* port) {
    if (!port->result_pending) return;
    port->result_pending = false;
    port->failed += 1;
    SetResultNote("the port's process ended without a result");
    WriteLogRecord({"station", port->port, file, kExitFailed, 1, 0});
}

// A worker that ended on its own while the station still takes boards: said with its port, and
// started again unless it ends at once (then it would only end again). A download it left
// without a result counts as failed.
void RestartDeadWorker(const DeviceOptions& device, const std::string& file, StationPort* port) {
    const bool again = MonotonicSeconds() - port->started >= kRestartAfter;
    std::fprintf(stderr, "station: the process of %s ended (status %d)%s\n", port->port.c_str(), port->status,
                 again ? "; started again" : "; the port is no longer served");
    if (!again) return;
    port->status = -1;
    StartPort(device, file, port);
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
        EmitEvent(port.port, event);
        if (event.name == "attempt") port.result_pending = true;
        if (event.name == "result") port.result_pending = false;
        if (event.name == "result" && event.Field("outcome") == OutcomeKey(kOutcomeInterrupted)) port.interrupted += 1;
        if (event.name != "result" || event.Field("outcome") == OutcomeKey(kOutcomeInterrupted)) continue;
        (JudgeWorker(&event, kExitOk).status == kExitOk ? port.ok : port.failed) += 1;
    }
}

void Supervise(const DeviceOptions& device, const std::string& file, std::vector<StationPort>& ports, int boards) {
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
            CountLostDownload(file, &port);
            if (stopping == 0 && !(boards && TotalOk(ports) >= boards)) RestartDeadWorker(device, file, &port);
        }
        const int interrupts = InterruptsCounted();
        const int wanted = interrupts ? 1 + (interrupts > 1) : boards && TotalOk(ports) >= boards ? 1 : 0;
        if (wanted == 1 && stopping == 0) {
            if (interrupts) std::fprintf(stderr, "station: no new boards; running downloads finish "
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
        // A port's process that ended otherwise than told failed; 130 only for an interrupted download.
        if (port.failed || port.status != kExitOk) status = status == kExitOk ? kExitFailed : status;
        if (port.interrupted) status = kExitInterrupted;
    }
    return status;
}

// The image the station loaded and checked, from its facts to the image's last fact: every board
// gets exactly it, never a later state of the file.
const size_t kImageFrom = offsetof(LoaderState, raw_file_length);
const size_t kImageTo = offsetof(LoaderState, transfer_state);

std::vector<uint8_t> KeepImage() {
    const uint8_t* state = reinterpret_cast<const uint8_t*>(&g_loader);
    return std::vector<uint8_t>(state + kImageFrom, state + kImageTo);
}

void RestoreImage(const std::vector<uint8_t>& image) {
    std::memcpy(reinterpret_cast<uint8_t*>(&g_loader) + kImageFrom, image.data(), image.size());
}

}  // namespace

int RunStation(const DeviceOptions& device, const std::vector<std::string>& ports, const std::string& file,
               int boards) {
    // The first Ctrl-C stops new boards, the second interrupts; a termination request does not
    // wait for running downloads.
    CountInterrupts();
    std::fflush(stdout);
    if (RefuseNonSerialPorts(ports)) return kExitUsage;
    // The image is checked once, before the first board: a refused file ends the station here.
    if (!LoadImageFromPath(file.c_str())) return kExitFailed;
    WarnDataBelowFirstOffset();
    std::vector<StationPort> station;
    for (const std::string& port : ports) {
        station.push_back({port, nullptr, 0, 0, -1, 0, false, 0});
        StartPort(device, file, &station.back());
    }
    Supervise(device, file, station, boards);
    return PrintCounts(station);
}

int ServeStationPort(const DeviceOptions& device, const std::string& file) {
    HearStation();
    SettleOperation(1);  // waiting for a board interrupts no download
    g_console.stderr_is_terminal = 0;
    g_console.line_prefix = "[" + device.port + "] ";
    const std::vector<uint8_t> image = KeepImage();
    DeviceOptions board = device;
    while (WaitForBoard(device.port, &board.port)) {
        const double started = MonotonicSeconds();
        int attempts = 1;
        const int status = DownloadWithRetries(board, file, "station", &attempts);
        if (!ReportWorkerResult(status, attempts, MonotonicSeconds() - started)) break;
        if (status == kExitOk) std::fprintf(stderr, "[%s] done, remove the board\n", device.port.c_str());
        else std::fprintf(stderr, "[%s] FAILED: %s\n", device.port.c_str(), ResultMessage().c_str());
        const AppIdentity flashed = status == kExitOk ? VerifiedApplication() : AppIdentity();
        WaitForRemoval(board.port, flashed, device.removal_time);
        ReleaseDevice();
        if (!PortStops()) ReportWorkerEvent({"removed", {}});
        ResetLoaderState();
        RestoreImage(image);
        InitConsole();
        g_console.stderr_is_terminal = 0;
        g_console.line_prefix = "[" + device.port + "] ";
    }
    return kExitOk;
}
