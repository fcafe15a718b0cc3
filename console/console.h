// The console: the operator interface on a terminal (status lines and boxes on stderr, results kept
// for stdout), exit statuses, the lines that explain a failure, and the line trace.
#pragma once
#include <string>

#include "core/operator_ui.h"

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

// As --version and the run log say it.
inline constexpr char kTavbootVersion[] = "0.0.10";
// The "schema" of every JSON document, log record and event: keys are only ever added within one.
inline constexpr int kSchema = 1;

struct ConsoleState {
    int stderr_is_terminal;  // progress bar in place instead of one line per status
    std::string fields[5];   // info field texts, indexed by InfoField
    std::string last_box;    // "<caption>: <text>" of the latest box
    std::string last_reason; // the system's reason behind it, empty when none
    std::string path;        // image file named by the latest load
    std::string line_prefix; // put before every stderr line ("[port] " with several ports)
    double transfer_started; // monotonic seconds at the erase acknowledgement
    int progress_shown;      // a progress line is on the terminal and must be ended
};

extern ConsoleState g_console;

void InitConsole();
// The info field's text without the two leading blanks, up to the first zero byte.
std::string FieldValue(InfoField field);
// Ends an in-place progress line so the next output starts on a line of its own.
void EndProgressLine();
// The page transfer begins (the erase was acknowledged): its progress counts from now.
void BeginTransferProgress();
double MonotonicSeconds();
// Called with every status text after it was shown; nullptr: nobody listens.
extern void (*g_status_listener)(const char* text);

// Platform: 1 when stderr is a terminal (progress is then drawn in place).
int StderrIsTerminal();
// Platform: 1 when stdout is a terminal (device texts are then shown escaped).
int StdoutIsTerminal();
// Platform: the system's reason that OpenPort failed on port_name, with a hint where one helps.
std::string PortOpenReason(const char* port_name, int error);
// Platform: the system's text for an errno / GetLastError value.
std::string SystemErrorText(int error);
// Platform: the port's name as the user gave it, with the device it stands for.
std::string PortLabel(const char* port_name);
// Platform: the system's text for an error met reading a file; a file another program holds
// without sharing is named as such.
std::string FileErrorText(int error);
// Platform: the console shows UTF-8 (Windows; terminals elsewhere already do).
void UseUtf8Console();
// Platform: 1 when the program was started with no arguments as the only program in its
// console (double-clicked on Windows): it has then said what it is and waited for Enter.
int ExplainedToLoneConsole(int argc);
// Platform: 1 when every argument reached the program as typed; 0 with why when the system
// had to replace a character it cannot pass in its code page (Windows before UTF-8 code pages).
int ArgumentsArrivedWhole(std::string* why);
// Platform: keeps the system from sleeping while the process runs (Windows); the screen may still turn off.
void KeepSystemAwake();

// After a failure's box: one line "tavboot: <port or file>: <reason>" when the recorded
// outcome, line event and system error say why.
void ExplainFailure();
// On a terminal, the first line of a device operation: the port it opens.
void AnnouncePort();
// A warning line on stderr when the loaded file has data below 0x1000, which no download sends.
void WarnDataBelowFirstOffset();
// After a download's result: one line on stderr when the device's answers came
// 5 ms or more late (median), with what that cost and what to set.
void WarnSlowLine();
// Platform: what to set so that the line hands answers on at once.
std::string SlowLineAdvice(const char* port_name);
// A device text with its non-printing bytes shown as \xNN.
std::string Printable(const std::string& text);
// A device text as UTF-8 without loss: a byte from 0x80 on becomes the character of the same
// number (U+0080 to U+00FF), as JSON, the log and the console carry it.
std::string DeviceTextUtf8(const std::string& bytes);
// A file or port name as UTF-8: well-formed UTF-8 stays, any other byte becomes U+0080 to U+00FF.
std::string NameUtf8(const std::string& bytes);
// With json, one object {"ok": false, "message": <box>, "outcome": <key>, "reason": ...} on stdout. Returns status.
int PrintJsonFailure(bool json, int status);
// A run refused before it began: "tavboot: <text>" on stderr (and the JSON failure). Returns kExitUsage.
int Refuse(const std::string& text, bool json);
// A failure before anything is sent: "tavboot: <text>" on stderr and, with json,
// the failure's object on stdout. Returns the failure's exit status.
int FailBeforeRun(const std::string& text, bool json);
// 1 (and refused) when port does not fit the loader's port name.
int RefusePortName(const std::string& port, bool json);
// Flushes the results; a result that could not be written turns success into failure.
int FinishOutput(int status);

// With wanted, the line's bytes go to stderr as "trace: <ms> <direction> <hex bytes>"
// from now on, the time counted from this call.
void StartLineTrace(bool wanted);
