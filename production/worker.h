// Workers of the production line: this program started again for one port (tavboot --worker),
// reporting one line per event on its standard output in a fixed machine format, read by the
// supervisor (several ports, the station), which never reads a worker's human text.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "production/production.h"

// One event: "<name>\t<key>=<value>\t...\n". Values are escaped so that a tab, a line end
// or a backslash in a device's text never breaks the line.
//   phase   text=<status text>
//   page    done=<pages acknowledged> total=<pages of the image>
//   attempt number=<1, 2, ...>
//   retry   attempt=<the next attempt> of=<attempts allowed> after=<box that ended the last> outcome=<key>
//   result  outcome=<OutcomeKey> status=<exit status> attempts=N seconds=S system_error=E
//           message=<last box> [hw_platform= hw_version= boot_sw_version= application= fw_version=]
//           [record=<the log record's JSON text>]
//   waiting, board device=<the port the board came on>, removed: a station's port
struct WorkerEvent {
    std::string name;
    std::vector<std::pair<std::string, std::string>> fields;
    // The field's value, empty when the event has none.
    std::string Field(const std::string& key) const;
};

std::string FormatWorkerEvent(const WorkerEvent& event);
// Parses one line without its line end. Returns 0 when it is not an event.
int ParseWorkerEvent(const std::string& line, WorkerEvent* event);
// Takes the first whole line out of text (without its \n, or the \r\n of a text-mode pipe). 0 when none.
int TakeWorkerLine(std::string* text, std::string* line);
// Takes lines out of text up to the first event among them (1); 0 when no whole event is there.
// Malformed lines are skipped.
int TakeWorkerEvent(std::string* text, WorkerEvent* event);

// What a worker came to, from its result event (nullptr when it sent none) and how its
// process ended (exit status, or kExitInterrupted for a signal).
struct WorkerVerdict {
    int status;
    std::string outcome;  // OutcomeKey, "" when no valid result arrived
    std::string message;
};
// Success only when a well-formed result says ok and the process ended with status 0;
// a worker that ended without a valid result failed, whatever its exit status said.
WorkerVerdict JudgeWorker(const WorkerEvent* result, int exit_status);

// ---- Supervisor side (platform: worker_posix.cpp, worker_win32.cpp) ----

struct WorkerProcess;

enum WorkerStart {
    kWorkerEndsWithSupervisor = 1,  // ended when the supervisor ends, however it ends
    kWorkerRelaysStderr = 2,        // its stderr lines come back to the supervisor
    kWorkerOwnProcessGroup = 4,     // a terminal's Ctrl-C reaches only the supervisor
};
enum WorkerStop { kWorkerStopNewWork, kWorkerStopNow };

// Starts `tavboot --worker <arguments>` with input on its standard input (then closed).
// Returns nullptr when no process could be started.
WorkerProcess* StartWorker(const std::vector<std::string>& arguments, int start_flags, const std::string& input);
// Waits up to timeout_ms until any worker has output or has ended, and takes what arrived;
// when no worker has a pipe left open, waits for their processes to end.
void WaitForWorkers(const std::vector<WorkerProcess*>& workers, int timeout_ms);
// The next whole event line the worker sent (1), or none yet (0). Malformed lines are skipped.
int NextWorkerEvent(WorkerProcess* worker, WorkerEvent* event);
// The next whole stderr line of a relaying worker (1), or none yet (0).
int NextWorkerLine(WorkerProcess* worker, std::string* line);
// 1 once the process has ended and everything it sent was taken; *exit_status its status.
int WorkerFinished(WorkerProcess* worker, int* exit_status);
void StopWorker(WorkerProcess* worker, WorkerStop how);
// Waits for the process to end (when it still runs) and frees the record. Returns its status.
int EndWorker(WorkerProcess* worker);

// The arguments of a worker doing job ("download" or "station") on device.port: the device
// options and the run log; with image_input, the worker takes the image from its input.
std::vector<std::string> WorkerArguments(const char* job, const DeviceOptions& device, const std::string& file,
                                         bool image_input);
// The image in the loader state as a worker's input: it sends exactly this image, and the
// file is read once, however many ports there are.
std::string LoadedImageInput();
// Platform: from now on Ctrl-C and termination requests are counted, not ending the supervisor.
void CountInterrupts();
int InterruptsCounted();

// ---- The event stream (--events): one JSON object a line on stdout for a fixture's software ----

// From now on events are printed; a download on one port sends its own status texts as events.
void StartEventStream();
// With the stream on, prints the event the worker event stands for on port (attempts stand for
// none), with its schema, time, port and name, flushed at once. A result carries its record's keys.
void EmitEvent(const std::string& port, const WorkerEvent& event);
// With the stream on, an interrupt prints the result of record (its seconds counted up to then).
void PrepareInterruptEvent(const std::string& port, const std::string& record);

// ---- Worker side ----

// 1 when argv asks for a worker (argv[1] is --worker).
int IsWorkerCall(int argc, const char* const* argv);
// Platform, first in a worker: its standard input and output carry bytes as they are, and
// the supervisor's stop requests are heard.
void PrepareWorkerProcess();
// In a worker: 1 once its supervisor asked it to take no new work (kWorkerStopNewWork).
int NewWorkStopped();
// Runs the worker argv asks for; returns its exit status.
int RunWorker(int argc, const char* const* argv);
// Every status text as a phase event, pages acknowledged since the last one as a page event.
void ReportStatus(const char* text);
// In a worker: sends the event to the supervisor (0 when it cannot). Elsewhere to the event stream (1).
int ReportWorkerEvent(const WorkerEvent& event);
// In a worker: the result event of the operation that ended with status, from the loader
// and console state as it left them. Returns 0 when the supervisor can no longer be told.
int ReportWorkerResult(int status, int attempts, double seconds);
// Platform, in a station's worker: board after board on device.port until told to stop.
int ServeStationPort(const DeviceOptions& device, const std::string& file);
