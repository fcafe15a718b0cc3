// The production line: downloads retried after failures at the line, several ports at once, the
// station, the run log and the guards of the process.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/outcome.h"

struct DeviceOptions {
    std::string port = "COM1";
    std::string boot_value;  // 4 hex digits, empty: the build-time value
    std::string unlock_key;  // 8 hex digits, empty: the build-time key
    int retries = 0;         // a download failing at the line is tried again this often
    bool trace = false;      // every byte on the line to stderr
    double verify_app = 0;   // seconds the application has to answer after a download; 0: not asked
    double removal_time = 2; // station: seconds of silence after which a board not identified is gone
    std::string expect_platform;    // the HW platform the board must send; empty: any
    std::string expect_hw_version;  // the HW version it must send; empty: any
};

// What a running application says it is; empty texts when nothing answered.
struct AppIdentity {
    std::string name;
    std::string fw_version;
};
bool operator==(const AppIdentity& a, const AppIdentity& b);

// The outcome of a download on one port.
struct PortResult {
    std::string port;
    int status;           // exit status of that download
    std::string message;  // "<caption>: <text>" of its last message box
    double seconds;
    int attempts = 1;
    Outcome outcome = kOutcomeNone;  // what ended its last attempt
    int answer_delay_ms = -1;  // how late its answers came (median); -1 when not known
    AppIdentity app;           // the application that answered after the download (--verify-app)
};

// The port's name (checked to fit) into the loader state; on a terminal the first line names it.
void SelectPort(const std::string& port);
// Puts the run-time enter-boot value and unlock key into the loader state.
void ApplyDeviceOverrides(const DeviceOptions& options);
// Loads file and downloads it on options.port: one attempt. Returns the exit status.
int LoadAndDownload(const DeviceOptions& options, const std::string& file);
// The image already in the loader state, downloaded on options.port: one attempt.
int DownloadLoadedImage(const DeviceOptions& options);

// Opens port and asks the application for its name and version, input waiting before dropped.
// Returns 1 when it answered; 0 with *busy 1 when another program holds the port.
int ReadRunningApplication(const std::string& port, AppIdentity* identity, int* busy);
// After a download: waits up to seconds for the application to answer, its identity then in the
// loader's fields. Returns 0 when it never did (the flash stays written; the download's box too).
int VerifyApplicationStarted(const std::string& port, double seconds);
// The identity the last VerifyApplicationStarted read as the application sent it; empty when none.
const AppIdentity& VerifiedApplication();

// Runs the download up to 1 + options.retries times, each from the start, while its
// outcome is retryable (OutcomeRetryable); says "retry: ..." before each new attempt and appends one
// log record under operation. Returns the last attempt's exit status.
int DownloadWithRetries(const DeviceOptions& options, const std::string& file, const char* operation,
                        int* attempts);
// Called, interrupts held, as each attempt of DownloadWithRetries begins, with its number (so that
// what an interrupt reports counts the attempts made); none when empty.
void SetAttemptListener(std::function<void(int attempt)> listener);

// Loads file once and downloads it on every port at once, one process per port, with a
// summary on stderr. Returns the exit status; results stay empty when the file did not load
// (kExitFailed) or the platform cannot (kExitUsage).
int DownloadOnSeveralPorts(const DeviceOptions& device, const std::vector<std::string>& ports,
                           const std::string& file, std::vector<PortResult>* results);
// tavboot station: every port unattended, board after board, until Ctrl-C or `boards` successes.
int RunStation(const DeviceOptions& device, const std::vector<std::string>& ports, const std::string& file,
               int boards);

// What one port operation did, for its log record.
struct LogEntry {
    const char* operation;  // "download", "hwinfo", "appinfo", "station"
    std::string port;
    std::string file;       // empty: the operation has no file
    int status;             // exit status of the operation
    int attempts;
    double seconds;
};

// The run log: one JSON line per port operation, appended with one write so parallel ports
// never interleave. Opens path for appending (created when missing). Returns 0 with why when
// it cannot be opened. Processes forked afterwards share the open log.
int OpenRunLog(const std::string& path, std::string* why);
// The station and operator every record names; an empty text: the host's name, the environment's user.
void SetRecordOrigin(const std::string& station, const std::string& operator_name);
// As given to SetRecordOrigin (what workers are told), empty when not given.
const std::string& GivenStation();
const std::string& GivenOperator();
// The path the run log was opened with, empty when none.
const std::string& RunLogPath();
// Appends the record of entry, with the image, identity and last box of the loader
// and console state as the operation left them. Nothing when no log is open.
// Returns 0, saying why on stderr, when the record could not be written whole. From here on the
// operation's result is settled (SettleOperation).
int WriteLogRecord(const LogEntry& entry);
// The record's text without the line end.
std::string LogRecordText(const LogEntry& entry);
// The text of the record WriteLogRecord made last (also without a log), empty before the first.
const std::string& LastRecordText();
// Now in UTC as the records give their time: 2026-12-07T12:26:43.141Z.
std::string UtcTimeText();
// A record's result for an exit status: "ok", "failed" or "interrupted".
const char* ResultKey(int status);
// Prepares the record an interrupt appends for the operation of entry, started at
// `started` (monotonic seconds): as the state is now, result "interrupted".
void PrepareInterruptRecord(const LogEntry& entry, double started);
// Prepares it again with what the operation has learnt since (the image, the identity).
void RefreshInterruptRecord();
// Safe in a signal handler: appends the prepared record, its seconds counted up to now.
void AppendInterruptRecord();
// Safe in a signal handler: the seconds since the prepared record's start, as a report's text.
size_t FormatInterruptSeconds(char* out);
// In a report given to SetInterruptReport, this text stands for those seconds.
const char kInterruptSecondsMark[] = "987654.321";
// Why the last record could not be written whole, empty when every record was.
const std::string& RunLogError();
// The message of the operation's result: its last box, or why it failed after the box (the
// application did not start, the record could not be written).
std::string ResultMessage();
// Why the operation failed after its last box; cleared when the next operation begins.
void SetResultNote(const std::string& note);

// Platform: runs first. Closed standard descriptors get the null device, so that no
// port or file is ever opened as one; a broken output pipe is an error, not a signal.
void GuardProcess();
// Platform: Ctrl-C or a termination request releases the port, appends the interrupted
// log record, says that the operation was interrupted (and the device stays in its
// bootloader during a download) and ends the process with status 130.
void InstallInterruptHandler();
// Windows: what Ctrl-C does to a single operation, done at once (a supervisor's stop request):
// the process ends as interrupted, or, once the operation's result is settled, is asked to stop.
void ActOnInterrupt();
// The line an interrupt prints on stderr, without its line ends.
std::string InterruptNotice();
// line goes to standard output when an interrupt ends the process (a worker's result event, a
// --json object); kInterruptSecondsMark in it becomes the seconds counted up to the interrupt.
void SetInterruptReport(const std::string& line);
// Platform: while held, an interrupt waits; released, it comes.
void HoldInterrupts(int hold);
// Platform: settled, the operation's result is fixed (its record written, or none runs): an
// interrupt then only sets InterruptRequested and the process goes on to tell its true result.
// PrepareInterruptRecord unsettles it.
void SettleOperation(int settled);
// Platform: pages are being sent; once the last one is acknowledged an interrupt settles too.
void MarkTransferRunning(int running);
int InterruptRequested();
// A file and its folder that an interrupt removes before the process ends; empty texts: none.
void RemoveOnInterrupt(const char* file, const char* folder);
