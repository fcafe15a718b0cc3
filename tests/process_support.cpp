// Running the built tavboot binary as a process, with its output captured.
#include "tests/process_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

namespace {

double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Reads what is there from both pipes for up to wait_ms; 0 once both are closed.
int Pump(BackgroundProcess* process, int wait_ms) {
    pollfd fds[2] = {{process->out_fd, POLLIN, 0}, {process->err_fd, POLLIN, 0}};
    if (process->out_fd < 0 && process->err_fd < 0) return 0;
    if (poll(fds, 2, wait_ms) <= 0) return 1;
    int* ends[2] = {&process->out_fd, &process->err_fd};
    std::string* texts[2] = {&process->out, &process->err};
    for (int i = 0; i < 2; ++i) {
        if (*ends[i] < 0 || !fds[i].revents) continue;
        char buffer[4096];
        const ssize_t got = read(*ends[i], buffer, sizeof buffer);
        if (got > 0) texts[i]->append(buffer, size_t(got));
        else {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return 1;
}

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

}  // namespace

BackgroundProcess StartTavboot(const std::vector<std::string>& args, bool own_group, const ChildSetup& setup) {
    int out[2];
    int err[2];
    BackgroundProcess process;
    if (pipe(out) != 0 || pipe(err) != 0) return process;
    process.pid = fork();
    if (process.pid == 0) {
        if (own_group) setpgid(0, 0);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1], null}) close(fd);
        if (setup) setup();
        std::vector<char*> argv = {const_cast<char*>(TAVBOOT_BINARY)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TAVBOOT_BINARY, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    process.out_fd = out[0];
    process.err_fd = err[0];
    return process;
}

int WaitForText(BackgroundProcess* process, const std::string& output, const std::string& text,
                int timeout_seconds) {
    const double end = Seconds() + timeout_seconds;
    while (output.find(text) == std::string::npos) {
        if (Seconds() > end || !Pump(process, 50)) return 0;
    }
    return 1;
}

int WaitForStderr(BackgroundProcess* process, const std::string& text, int timeout_seconds) {
    return WaitForText(process, process->err, text, timeout_seconds);
}

int WaitForStdout(BackgroundProcess* process, const std::string& text, int timeout_seconds) {
    return WaitForText(process, process->out, text, timeout_seconds);
}

int FinishProcess(BackgroundProcess* process, int timeout_seconds) {
    const double end = Seconds() + timeout_seconds;
    while (Pump(process, 50)) {
        if (Seconds() > end) {
            kill(process->pid, SIGKILL);
            break;
        }
    }
    int raw = 0;
    waitpid(process->pid, &raw, 0);
    while (Pump(process, 0)) {}
    return StatusOf(raw);
}

ProcessResult RunTavboot(const std::vector<std::string>& args, int timeout_seconds, const ChildSetup& setup) {
    BackgroundProcess process = StartTavboot(args, false, setup);
    const int status = FinishProcess(&process, timeout_seconds);
    return {status, process.out, process.err};
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}
