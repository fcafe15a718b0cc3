// Operator interface on a terminal: status lines and boxes on stderr, results kept for stdout.
#pragma once
#include <string>

#include "core/operator_ui.h"

struct ConsoleState {
    int stderr_is_terminal;  // progress bar in place instead of one line per status
    int failed;              // a box with the error or warning icon was shown
    int succeeded;           // the information box of a finished download was shown
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
double MonotonicSeconds();
