// tavboot download on several ports: one process per port, their reports merged here.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

struct PortRun {
    std::string port;
    pid_t pid;
    int output;           // read end of the child's stderr, -1 once closed
    std::string pending;  // an incomplete line
    std::string phase;    // latest status text
    std::string box;      // latest message box line
    unsigned pages_done;
    double started;
    double finished;      // 0 while running
    int status;
    int attempts;         // 1 + the "retry:" lines seen
};

volatile sig_atomic_t g_interrupted = 0;

void OnParentInterrupt(int) { g_interrupted = 1; }

const char kPagePrefix[] = "status:  BOOTLoader, Write page ";

// Every child sends the image the parent loaded, never a later state of the file.
pid_t StartChild(const DeviceOptions& device, const std::string& port, const std::string& file, int* output) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        EndWithParent(parent);
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        close(fds[1]);
        g_console.stderr_is_terminal = 0;
        DeviceOptions own = device;
        own.port = port;
        std::fflush(stdout);
        int attempts = 1;
        std::exit(DownloadWithRetries(own, file, "download", &attempts));
    }
    close(fds[1]);
    *output = fds[0];
    return pid;
}

void TakeLine(PortRun& run, const std::string& line) {
    if (line.rfind(kPagePrefix, 0) == 0) run.pages_done = unsigned(std::atoi(line.c_str() + sizeof kPagePrefix - 1)) + 1;
    if (line.rfind("retry: ", 0) == 0) ++run.attempts;
    else if (line.rfind("status: ", 0) == 0) run.phase = line.substr(8);
    else if (!line.empty() && line.rfind("tavboot: ", 0) != 0) run.box = line;
    if (!g_console.stderr_is_terminal) std::fprintf(stderr, "[%s] %s\n", run.port.c_str(), line.c_str());
}

void ReadOutput(PortRun& run) {
    char buffer[4096];
    const ssize_t got = read(run.output, buffer, sizeof buffer);
    if (got <= 0) {
        close(run.output);
        run.output = -1;
        return;
    }
    run.pending.append(buffer, size_t(got));
    size_t end;
    while ((end = run.pending.find('\n')) != std::string::npos) {
        TakeLine(run, run.pending.substr(0, end));
        run.pending.erase(0, end + 1);
    }
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

void WaitForChildren(std::vector<PortRun>& runs, unsigned pages) {
    bool drawn = false;
    for (;;) {
        if (g_interrupted)
            for (PortRun& run : runs) if (!run.finished) kill(run.pid, SIGTERM);
        std::vector<pollfd> fds;
        std::vector<PortRun*> owners;
        for (PortRun& run : runs) {
            if (run.output < 0) continue;
            fds.push_back({run.output, POLLIN, 0});
            owners.push_back(&run);
        }
        if (fds.empty()) break;
        if (poll(fds.data(), fds.size(), 200) > 0)
            for (size_t i = 0; i < fds.size(); ++i) if (fds[i].revents) ReadOutput(*owners[i]);
        for (PortRun& run : runs) {
            int raw = 0;
            if (run.finished || waitpid(run.pid, &raw, WNOHANG) != run.pid) continue;
            run.finished = MonotonicSeconds();
            run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : kExitInterrupted;
        }
        if (g_console.stderr_is_terminal) {
            DrawProgress(runs, pages, drawn);
            drawn = true;
        }
    }
    for (PortRun& run : runs) {
        int raw = 0;
        if (run.finished) continue;
        waitpid(run.pid, &raw, 0);
        run.finished = MonotonicSeconds();
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : kExitInterrupted;
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
        PrintFitted(line + (run.status == kExitOk ? std::string() : run.box), width);
    }
}

}  // namespace

int DownloadOnSeveralPorts(const DeviceOptions& device, const std::vector<std::string>& ports,
                           const std::string& file, std::vector<PortResult>* results) {
    if (!LoadImageFromPath(file.c_str())) return kExitFailed;
    WarnDataBelowFirstOffset();
    const unsigned pages = SentPageCount(g_loader.image_length);
    struct sigaction action {};
    action.sa_handler = OnParentInterrupt;
    sigemptyset(&action.sa_mask);
    // A hang-up too ends the children first, so that no port stays held.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
    std::vector<PortRun> runs;
    for (const std::string& port : ports) {
        PortRun run{port, -1, -1, "", "starting", "", 0, MonotonicSeconds(), 0, kExitFailed, 1};
        run.pid = StartChild(device, port, file, &run.output);
        if (run.pid < 0) {
            run.finished = run.started;
            run.box = "cannot start a process for this port";
        }
        runs.push_back(run);
    }
    WaitForChildren(runs, pages);
    PrintSummary(runs, device.retries > 0);
    int status = kExitOk;
    for (const PortRun& run : runs) {
        results->push_back({run.port, run.status, run.box, run.finished - run.started, run.attempts});
        if (run.status != kExitOk) status = kExitFailed;
    }
    return g_interrupted ? kExitInterrupted : status;
}
