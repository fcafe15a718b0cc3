// Workers on Windows: CreateProcessW of this program, pipes for its events, stderr and image, a job that ends them.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"
#include "production/production.h"
#include "production/worker.h"

// Pipes are polled (PeekNamedPipe) rather than waited on: an anonymous pipe is no object a
// wait call can watch, one wait takes at most 64 handles, and a worker sends a few lines a
// second, so a check every few milliseconds serves any number of ports without a thread each.
struct WorkerProcess {
    HANDLE process;
    HANDLE events;    // read end of the worker's stdout, nullptr once closed
    HANDLE human;     // read end of its stderr when relayed, nullptr once closed or not relayed
    HANDLE stop_now;  // named events the worker watches
    HANDLE stop_new_work;
    std::string event_text;
    std::string human_text;
    int ended;
    int exit_status;
};

namespace {

const DWORD kPollMs = 5;
volatile LONG g_interrupts = 0;
volatile LONG g_new_work_stopped = 0;

// The worker finds its supervisor's stop requests by its own process id.
std::wstring StopEventName(DWORD worker_id) { return L"Local\\tavboot-worker-stop-" + std::to_wstring(worker_id); }
std::wstring NoNewWorkEventName(DWORD worker_id) {
    return L"Local\\tavboot-worker-no-new-work-" + std::to_wstring(worker_id);
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a blank or a quote
// (or is empty); backslashes doubled only where they come before a quote.
std::wstring QuotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    for (size_t at = 0;; ++at) {
        size_t backslashes = 0;
        for (; at < argument.size() && argument[at] == L'\\'; ++at) ++backslashes;
        if (at == argument.size()) {
            quoted.append(2 * backslashes, L'\\');
            break;
        }
        quoted.append(argument[at] == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted.push_back(argument[at]);
    }
    return quoted + L"\"";
}

std::wstring ThisProgram() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, &path[0], DWORD(path.size())));
    return path;
}

std::wstring CommandLine(const std::wstring& program, const std::vector<std::string>& arguments) {
    // The program's name is read up to its closing quote, without escapes.
    std::wstring line = L"\"" + program + L"\" --worker";
    for (const std::string& argument : arguments) line += L" " + QuotedArgument(Wide(argument));
    return line;
}

// Every worker belongs to one job that the system closes, ending them all, when the supervisor ends.
HANDLE SupervisorJob() {
    static HANDLE job = nullptr;
    if (job) return job;
    job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

void CloseEnd(HANDLE* end) {
    if (*end) CloseHandle(*end);
    *end = nullptr;
}

// A pipe whose one end (the child's) is inherited.
int MakePipe(HANDLE* read_end, HANDLE* write_end, bool child_reads, DWORD size) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    if (!CreatePipe(read_end, write_end, &inherited, size)) return 0;
    SetHandleInformation(child_reads ? *write_end : *read_end, HANDLE_FLAG_INHERIT, 0);
    return 1;
}

// An inheritable copy of one of this process's standard handles, or of the null device.
HANDLE InheritedCopy(DWORD which) {
    HANDLE copy = nullptr;
    const HANDLE own = GetStdHandle(which);
    if (own && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return copy;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    copy = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                       OPEN_EXISTING, 0, nullptr);
    return copy == INVALID_HANDLE_VALUE ? nullptr : copy;
}

// Reads what is there (1 when anything arrived or the pipe ended); closes the pipe at its end.
int Drain(HANDLE* pipe_end, std::string* text) {
    DWORD available = 0;
    if (!PeekNamedPipe(*pipe_end, nullptr, 0, nullptr, &available, nullptr)) {
        CloseEnd(pipe_end);
        return 1;
    }
    if (available == 0) return 0;
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(*pipe_end, buffer, available < sizeof buffer ? available : DWORD(sizeof buffer), &got, nullptr) ||
        got == 0) {
        CloseEnd(pipe_end);
        return 1;
    }
    text->append(buffer, got);
    return 1;
}

int Reap(WorkerProcess* worker, DWORD wait_ms) {
    DWORD code = 0;
    if (worker->ended || WaitForSingleObject(worker->process, wait_ms) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(worker->process, &code))
        return 0;
    worker->ended = 1;
    worker->exit_status = int(code);
    return 1;
}

// The whole input, then its end; a worker that ended early just leaves the rest unwritten.
void WriteInput(HANDLE pipe_end, const std::string& input) {
    for (size_t at = 0; at < input.size();) {
        DWORD put = 0;
        const size_t chunk = input.size() - at < 65536 ? input.size() - at : 65536;
        if (!WriteFile(pipe_end, input.data() + at, DWORD(chunk), &put, nullptr) || put == 0) break;
        at += put;
    }
    CloseHandle(pipe_end);
}

// Ctrl-Break or the console's closing counts as Ctrl-C twice: it does not wait for running work.
BOOL WINAPI OnSupervisorInterrupt(DWORD event) {
    InterlockedExchangeAdd(&g_interrupts, event == CTRL_C_EVENT ? 1 : 2);
    return TRUE;
}

// The worker's two requests: no new work (then only stop now is left to wait for), and stop now.
struct StopRequests {
    HANDLE stop_now;
    HANDLE stop_new_work;  // nullptr when not opened
};

DWORD WINAPI AwaitStopRequest(void* given) {
    const StopRequests requests = *static_cast<StopRequests*>(given);
    delete static_cast<StopRequests*>(given);
    HANDLE both[2] = {requests.stop_now, requests.stop_new_work};
    DWORD watched = requests.stop_new_work ? 2 : 1;
    DWORD heard;
    while ((heard = WaitForMultipleObjects(watched, both, FALSE, INFINITE)) == WAIT_OBJECT_0 + 1) {
        InterlockedExchange(&g_new_work_stopped, 1);
        watched = 1;
    }
    if (heard == WAIT_OBJECT_0) ActOnInterrupt();
    return 0;
}

// Both named events of a new worker, or neither.
void MakeStopEvents(DWORD worker_id, HANDLE* stop_now, HANDLE* stop_new_work) {
    *stop_now = CreateEventW(nullptr, TRUE, FALSE, StopEventName(worker_id).c_str());
    *stop_new_work = CreateEventW(nullptr, TRUE, FALSE, NoNewWorkEventName(worker_id).c_str());
    if (*stop_now && *stop_new_work) return;
    CloseEnd(stop_now);
    CloseEnd(stop_new_work);
}

}  // namespace

WorkerProcess* StartWorker(const std::vector<std::string>& arguments, int start_flags, const std::string& input) {
    HANDLE events[2] = {nullptr, nullptr};
    HANDLE human[2] = {nullptr, nullptr};
    HANDLE given[2] = {nullptr, nullptr};
    const HANDLE job = SupervisorJob();
    const bool relay = start_flags & kWorkerRelaysStderr;
    const bool piped = MakePipe(&events[0], &events[1], false, 0) &&
                       (relay ? MakePipe(&human[0], &human[1], false, 0) : (human[1] = InheritedCopy(STD_ERROR_HANDLE)) != nullptr) &&
                       (!input.empty() ? MakePipe(&given[0], &given[1], true, DWORD(input.size()))
                                       : (given[0] = InheritedCopy(STD_INPUT_HANDLE)) != nullptr);
    // The worker inherits its three standard handles and nothing else of the supervisor's.
    HANDLE inherited[3] = {given[0], events[1], human[1]};
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    std::vector<char> list(list_size);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = given[0];
    startup.StartupInfo.hStdOutput = events[1];
    startup.StartupInfo.hStdError = human[1];
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    const bool listed = piped && InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &list_size) &&
                        UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  inherited, sizeof inherited, nullptr, nullptr);
    PROCESS_INFORMATION started{};
    std::wstring command = CommandLine(ThisProgram(), arguments);
    // Without a console of its own a relaying worker hears no Ctrl-C: its supervisor decides.
    const DWORD flags =
        CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | (relay ? DETACHED_PROCESS : CREATE_NEW_PROCESS_GROUP);
    const bool created = listed && ((start_flags & kWorkerEndsWithSupervisor) == 0 || job) &&
                         CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                        &startup.StartupInfo, &started);
    if (listed) DeleteProcThreadAttributeList(startup.lpAttributeList);
    for (HANDLE* child_end : {&events[1], &human[1], &given[0]}) CloseEnd(child_end);
    HANDLE stop_now = nullptr;
    HANDLE stop_new_work = nullptr;
    if (created) MakeStopEvents(started.dwProcessId, &stop_now, &stop_new_work);
    if (created && (!stop_now || ((start_flags & kWorkerEndsWithSupervisor) && !AssignProcessToJobObject(job, started.hProcess)))) {
        TerminateProcess(started.hProcess, kExitFailed);
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
        CloseEnd(&stop_now);
        CloseEnd(&stop_new_work);
    }
    if (!stop_now) {
        for (HANDLE* own_end : {&events[0], &human[0], &given[1]}) CloseEnd(own_end);
        return nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    if (given[1]) WriteInput(given[1], input);
    return new WorkerProcess{started.hProcess, events[0], human[0], stop_now, stop_new_work, "", "", 0, 0};
}

void WaitForWorkers(const std::vector<WorkerProcess*>& workers, int timeout_ms) {
    const ULONGLONG until = GetTickCount64() + ULONGLONG(timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
        int arrived = 0;
        int open = 0;
        for (WorkerProcess* worker : workers) {
            if (worker->events) arrived |= Drain(&worker->events, &worker->event_text);
            if (worker->human) arrived |= Drain(&worker->human, &worker->human_text);
            open |= worker->events || worker->human;
        }
        // Once every pipe is closed only the ends of the processes are left to wait for.
        for (WorkerProcess* worker : workers) arrived |= Reap(worker, open ? 0 : INFINITE);
        if (arrived || GetTickCount64() >= until) return;
        Sleep(kPollMs);
    }
}

int NextWorkerEvent(WorkerProcess* worker, WorkerEvent* event) { return TakeWorkerEvent(&worker->event_text, event); }

int NextWorkerLine(WorkerProcess* worker, std::string* line) { return TakeWorkerLine(&worker->human_text, line); }

int WorkerFinished(WorkerProcess* worker, int* exit_status) {
    if (!worker->ended || worker->events || worker->human) return 0;
    *exit_status = worker->exit_status;
    return 1;
}

// Stop now ends the worker as Ctrl-C ends a single download: its record and result are written.
void StopWorker(WorkerProcess* worker, WorkerStop how) {
    if (!worker->ended) SetEvent(how == kWorkerStopNow ? worker->stop_now : worker->stop_new_work);
}

int EndWorker(WorkerProcess* worker) {
    Reap(worker, INFINITE);
    CloseEnd(&worker->events);
    CloseEnd(&worker->human);
    CloseHandle(worker->stop_now);
    CloseHandle(worker->stop_new_work);
    CloseHandle(worker->process);
    const int status = worker->exit_status;
    delete worker;
    return status;
}

void CountInterrupts() { SetConsoleCtrlHandler(OnSupervisorInterrupt, TRUE); }

int InterruptsCounted() { return int(g_interrupts); }

void PrepareWorkerProcess() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    const HANDLE stop_now = OpenEventW(SYNCHRONIZE, FALSE, StopEventName(GetCurrentProcessId()).c_str());
    if (!stop_now) return;
    const HANDLE stop_new_work = OpenEventW(SYNCHRONIZE, FALSE, NoNewWorkEventName(GetCurrentProcessId()).c_str());
    const HANDLE watcher = CreateThread(nullptr, 0, AwaitStopRequest, new StopRequests{stop_now, stop_new_work}, 0, nullptr);
    if (watcher) CloseHandle(watcher);
}

int NewWorkStopped() { return int(g_new_work_stopped); }
