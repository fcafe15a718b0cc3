// Workers on POSIX: fork and exec of this program, its event lines and stderr over pipes, signals to stop it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"
#include "production/process_guard.h"
#include "production/worker.h"

struct WorkerProcess {
    pid_t pid;
    int events;  // read end of the worker's stdout, -1 once closed
    int human;   // read end of its stderr when relayed, -1 once closed or not relayed
    std::string event_text;
    std::string human_text;
    int ended;
    int exit_status;
};

namespace {

// Reads what is there; closes the pipe at its end.
void Drain(int* pipe_end, std::string* text) {
    char buffer[4096];
    const ssize_t got = read(*pipe_end, buffer, sizeof buffer);
    if (got > 0) {
        text->append(buffer, size_t(got));
        return;
    }
    close(*pipe_end);
    *pipe_end = -1;
}

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : kExitInterrupted; }

void Reap(WorkerProcess* worker, int options) {
    int raw = 0;
    if (worker->ended || waitpid(worker->pid, &raw, options) != worker->pid) return;
    worker->ended = 1;
    worker->exit_status = StatusOf(raw);
}

// In the child between fork and exec: pipes in place, then this program again as a worker.
// This program's file, read before the fork (a tool that runs the program, such as a memory
// checker, answers for the program, where exec of /proc/self/exe would start the tool itself).
std::string ThisProgram() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : "/proc/self/exe";
}

[[noreturn]] void BecomeWorker(const std::string& program, const std::vector<std::string>& arguments,
                               int start_flags, pid_t supervisor, int input, int events, int human) {
    if (start_flags & kWorkerOwnProcessGroup) setpgid(0, 0);
    if (start_flags & kWorkerEndsWithSupervisor) EndWithParent(supervisor);
    if (input >= 0) dup2(input, STDIN_FILENO);
    dup2(events, STDOUT_FILENO);
    if (human >= 0) dup2(human, STDERR_FILENO);
    std::vector<const char*> argv = {"tavboot", "--worker"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    execv(program.c_str(), const_cast<char* const*>(argv.data()));
    _exit(kExitFailed);
}

// The whole input, then its end; a worker that ended early just leaves the rest unwritten.
void WriteInput(int pipe_end, const std::string& input) {
    for (size_t at = 0; at < input.size();) {
        const ssize_t put = write(pipe_end, input.data() + at, input.size() - at);
        if (put <= 0 && errno != EINTR) break;
        if (put > 0) at += size_t(put);
    }
    close(pipe_end);
}

void ClosePipe(int ends[2]) {
    for (int i = 0; i < 2; ++i)
        if (ends[i] >= 0) close(ends[i]);
}

}  // namespace

WorkerProcess* StartWorker(const std::vector<std::string>& arguments, int start_flags, const std::string& input) {
    int events[2] = {-1, -1};
    int human[2] = {-1, -1};
    int given[2] = {-1, -1};
    if (pipe2(events, O_CLOEXEC) != 0 || ((start_flags & kWorkerRelaysStderr) && pipe2(human, O_CLOEXEC) != 0) ||
        (!input.empty() && pipe2(given, O_CLOEXEC) != 0)) {
        ClosePipe(events);
        ClosePipe(human);
        ClosePipe(given);
        return nullptr;
    }
    const pid_t supervisor = getpid();
    const std::string program = ThisProgram();
    std::fflush(stdout);
    std::fflush(stderr);
    // A request to take no new work that comes before the worker can hear it would end it: held
    // from the fork on, it waits for PrepareWorkerProcess.
    sigset_t no_new_work, before;
    sigemptyset(&no_new_work);
    sigaddset(&no_new_work, SIGUSR1);
    sigprocmask(SIG_BLOCK, &no_new_work, &before);
    const pid_t pid = fork();
    if (pid == 0) BecomeWorker(program, arguments, start_flags, supervisor, given[0], events[1], human[1]);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    // The supervisor keeps the read ends of events and stderr and the write end of the input.
    for (int child_end : {events[1], human[1], given[0]})
        if (child_end >= 0) close(child_end);
    if (pid < 0) {
        for (int own_end : {events[0], human[0], given[1]})
            if (own_end >= 0) close(own_end);
        return nullptr;
    }
    if (given[1] >= 0) WriteInput(given[1], input);
    return new WorkerProcess{pid, events[0], human[0], "", "", 0, 0};
}

void WaitForWorkers(const std::vector<WorkerProcess*>& workers, int timeout_ms) {
    std::vector<pollfd> fds;
    std::vector<int*> ends;
    std::vector<std::string*> texts;
    for (WorkerProcess* worker : workers) {
        if (worker->events >= 0) {
            fds.push_back({worker->events, POLLIN, 0});
            ends.push_back(&worker->events);
            texts.push_back(&worker->event_text);
        }
        if (worker->human >= 0) {
            fds.push_back({worker->human, POLLIN, 0});
            ends.push_back(&worker->human);
            texts.push_back(&worker->human_text);
        }
    }
    if (!fds.empty() && poll(fds.data(), fds.size(), timeout_ms) > 0)
        for (size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents) Drain(ends[i], texts[i]);
    // Once every pipe is closed only the ends of the processes are left to wait for.
    for (WorkerProcess* worker : workers) Reap(worker, fds.empty() ? 0 : WNOHANG);
}

int NextWorkerEvent(WorkerProcess* worker, WorkerEvent* event) { return TakeWorkerEvent(&worker->event_text, event); }

int NextWorkerLine(WorkerProcess* worker, std::string* line) { return TakeWorkerLine(&worker->human_text, line); }

int WorkerFinished(WorkerProcess* worker, int* exit_status) {
    if (!worker->ended || worker->events >= 0 || worker->human >= 0) return 0;
    *exit_status = worker->exit_status;
    return 1;
}

void StopWorker(WorkerProcess* worker, WorkerStop how) {
    if (!worker->ended) kill(worker->pid, how == kWorkerStopNow ? SIGTERM : SIGUSR1);
}

int EndWorker(WorkerProcess* worker) {
    Reap(worker, 0);
    if (worker->events >= 0) close(worker->events);
    if (worker->human >= 0) close(worker->human);
    const int status = worker->exit_status;
    delete worker;
    return status;
}

namespace {

volatile sig_atomic_t g_interrupts = 0;
volatile sig_atomic_t g_new_work_stopped = 0;

// A termination request or a hang-up counts as Ctrl-C twice: it does not wait for running work.
void OnSupervisorInterrupt(int signal_number) { g_interrupts = g_interrupts + (signal_number == SIGINT ? 1 : 2); }

void OnStopNewWork(int) { g_new_work_stopped = 1; }

}  // namespace

void CountInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnSupervisorInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

int InterruptsCounted() { return g_interrupts; }

// A POSIX worker hears its supervisor through signals (stop now: SIGTERM, as an interrupt); its
// pipes carry bytes as they are.
void PrepareWorkerProcess() {
    struct sigaction action {};
    action.sa_handler = OnStopNewWork;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    sigset_t no_new_work;
    sigemptyset(&no_new_work);
    sigaddset(&no_new_work, SIGUSR1);
    sigprocmask(SIG_UNBLOCK, &no_new_work, nullptr);
}

int NewWorkStopped() { return g_new_work_stopped; }
