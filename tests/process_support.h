// Running the built tavboot binary as a process, with its output captured.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Runs in the child just before tavboot starts: descriptors, environment or limits of one case.
using ChildSetup = std::function<void()>;

struct ProcessResult {
    int status;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

// Runs tavboot with args; kills it after timeout_seconds (status then 128 + SIGKILL).
ProcessResult RunTavboot(const std::vector<std::string>& args, int timeout_seconds = 120,
                         const ChildSetup& setup = nullptr);

// A tavboot started in the background; stderr collected as it comes.
struct BackgroundProcess {
    pid_t pid = -1;
    int err_fd = -1;
    int out_fd = -1;
    std::string out;
    std::string err;
};

// With own_group, tavboot leads a process group of its own, so that a signal to
// the group reaches it and its children the way a terminal's Ctrl-C does.
BackgroundProcess StartTavboot(const std::vector<std::string>& args, bool own_group = false,
                               const ChildSetup& setup = nullptr);
// Reads the output until stderr (stdout) contains text or timeout_seconds passed; 1 when found.
int WaitForStderr(BackgroundProcess* process, const std::string& text, int timeout_seconds);
int WaitForStdout(BackgroundProcess* process, const std::string& text, int timeout_seconds);
// Waits for the end, reading the rest of the output; returns the exit status.
int FinishProcess(BackgroundProcess* process, int timeout_seconds);
// Lines of text, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);
