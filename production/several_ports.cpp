// tavboot download on several ports: one worker per port, their events merged here.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/loader_state.h"
#include "image/image_digest.h"
#include "image/image_file.h"
#include "production/process_guard.h"
#include "production/production.h"
#include "production/worker.h"

namespace {

struct PortRun {
    std::string port;
    WorkerProcess* worker;  // nullptr once it has ended, or when none could be started
    std::string phase;      // latest status text
    std::string box;        // the message of its result
    unsigned pages_done;
    double started;
    double finished;        // 0 while running
    int status;
    int attempts;
    Outcome outcome;        // as its result named it; kOutcomeNone without a valid result
    bool has_result;
    WorkerEvent result;     // its result event, when one arrived
};

void TakeEvent(PortRun& run, const WorkerEvent& event) {
    if (event.name != "result") EmitEvent(run.port, event);
    if (event.name == "phase") run.phase = event.Field("text");
    if (event.name == "page") run.pages_done = unsigned(std::atoi(event.Field("done").c_str()));
    if (event.name == "attempt") run.attempts = std::max(run.attempts, std::atoi(event.Field("number").c_str()));
    if (event.name != "result") return;
    run.result = event;
    run.has_result = true;
    run.attempts = std::max(run.attempts, std::atoi(event.Field("attempts").c_str()));
}

// What the worker said: its events, and its human lines shown as they are, with the port before them.
void TakeOutput(PortRun& run) {
    WorkerEvent event;
    while (NextWorkerEvent(run.worker, &event)) TakeEvent(run, event);
    std::string line;
    while (NextWorkerLine(run.worker, &line))
        if (!g_console.stderr_is_terminal) std::fprintf(stderr, "[%s] %s\n", run.port.c_str(), line.c_str());
}

void Finish(PortRun& run, int exit_status) {
    run.finished = MonotonicSeconds();
    const WorkerVerdict verdict = JudgeWorker(run.has_result ? &run.result : nullptr, exit_status);
    run.status = verdict.status;
    run.box = verdict.message;
    const Outcome named = OutcomeFromKey(verdict.outcome.c_str());
    run.outcome = named == kOutcomeCount ? kOutcomeNone : named;
    // The result as judged: a process that ended without one, or against it, failed.
    WorkerEvent shown = run.has_result ? run.result : WorkerEvent{"result", {{"message", verdict.message}}};
    shown.fields.emplace(shown.fields.begin(), "status", std::to_string(verdict.status));
    EmitEvent(run.port, shown);
    EndWorker(run.worker);
    run.worker = nullptr;
}

// A line cut to the terminal's width, so that no line wraps and the redraw stays in place.
void PrintFitted(const std::string& line, size_t width) {
    std::fprintf(stderr, "%s\n", line.substr(0, width ? width - 1 : line.size()).c_str());
}

// One line per port, rewritten in place on a terminal.
void DrawProgress(const std::vector<PortRun>& runs, unsigned pages, bool redraw) {
    if (redraw) std::fprintf(stderr, "\x1b[%zuA", runs.size());
    const double now = MonotonicSeconds();
    const size_t width = TerminalWidth();
    for (const PortRun& run : runs) {
        const double elapsed = (run.finished ? run.finished : now) - run.started;
        std::string state = run.pages_done ? "page " + std::to_string(run.pages_done) + " of " + std::to_string(pages)
                                           : run.phase;
        if (run.finished) state = run.status == kExitOk ? "done, " + state : "FAILED: " + run.box;
        char rate[32];
        std::snprintf(rate, sizeof rate, " %6.0f B/s", elapsed > 0 ? run.pages_done * kPageSize / elapsed : 0.0);
        char padded[48];
        std::snprintf(padded, sizeof padded, "%-40s", state.substr(0, 40).c_str());
        std::fputs("\x1b[2K", stderr);
        PrintFitted("[" + run.port + "] " + padded + rate, width);
    }
    std::fflush(stderr);
}

void Supervise(std::vector<PortRun>& runs, unsigned pages) {
    bool drawn = false;
    for (;;) {
        std::vector<WorkerProcess*> running;
        for (PortRun& run : runs) {
            if (!run.worker) continue;
            if (InterruptsCounted()) StopWorker(run.worker, kWorkerStopNow);
            running.push_back(run.worker);
        }
        if (running.empty()) break;
        WaitForWorkers(running, 200);
        for (PortRun& run : runs) {
            int exit_status = 0;
            if (!run.worker) continue;
            TakeOutput(run);
            if (WorkerFinished(run.worker, &exit_status)) Finish(run, exit_status);
        }
        if (g_console.stderr_is_terminal) {
            DrawProgress(runs, pages, drawn);
            drawn = true;
        }
    }
}

// With retries allowed the table has a column of attempts.
void PrintSummary(const std::vector<PortRun>& runs, bool attempts) {
    const size_t width = g_console.stderr_is_terminal ? TerminalWidth() : 0;
    char line[512];
    std::fputc('\n', stderr);
    std::snprintf(line, sizeof line, "%-24s %-12s %8s  %s%s", "port", "result", "time", attempts ? "attempts  " : "",
                  "message");
    PrintFitted(line, width);
    for (const PortRun& run : runs) {
        const char* result = run.status == kExitOk ? "ok" : run.status == kExitInterrupted ? "interrupted" : "FAILED";
        char tries[16] = "";
        if (attempts) std::snprintf(tries, sizeof tries, "%-10d", run.attempts);
        std::snprintf(line, sizeof line, "%-24s %-12s %7.1fs  %s", run.port.c_str(), result,
                      run.finished - run.started, tries);
        // A port whose application answered names it.
        const std::string app = run.result.Field("application") + " " + run.result.Field("fw_version");
        PrintFitted(line + (run.status != kExitOk ? run.box : app == " " ? std::string() : app), width);
    }
}

}  // namespace

int DownloadOnSeveralPorts(const DeviceOptions& device, const std::vector<std::string>& ports,
                           const std::string& file, std::vector<PortResult>* results) {
    if (!LoadImageFromPath(file.c_str())) return kExitFailed;
    WarnDataBelowFirstOffset();
    const unsigned pages = SentPageCount(g_loader.image_length);
    // An interrupt, a hang-up too, ends the workers first, so that no port stays held.
    CountInterrupts();
    const std::string image = LoadedImageInput();
    std::vector<PortRun> runs;
    for (const std::string& port : ports) {
        PortRun run{port, nullptr, "starting", "", 0, MonotonicSeconds(), 0, kExitFailed, 1, kOutcomeNone, false, {}};
        DeviceOptions own = device;
        own.port = port;
        run.worker = StartWorker(WorkerArguments("download", own, file, true),
                                 kWorkerEndsWithSupervisor | kWorkerRelaysStderr, image);
        if (!run.worker) {
            run.finished = run.started;
            run.box = "cannot start a process for this port";
        }
        runs.push_back(run);
    }
    Supervise(runs, pages);
    PrintSummary(runs, device.retries > 0);
    // 130 only when a download was in fact interrupted; one that finished first counts as it ended.
    int status = kExitOk;
    for (const PortRun& run : runs) {
        const std::string delay = run.has_result ? run.result.Field("answer_delay_ms") : std::string();
        results->push_back({run.port, run.status, run.box, run.finished - run.started, run.attempts, run.outcome,
                            delay.empty() ? -1 : std::atoi(delay.c_str()),
                            {run.result.Field("application"), run.result.Field("fw_version")}});
        if (run.status != kExitOk && status != kExitInterrupted)
            status = run.status == kExitInterrupted ? kExitInterrupted : kExitFailed;
    }
    return status;
}
