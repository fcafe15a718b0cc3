// The run log: one JSON line per port operation, appended with one write so parallel ports never interleave.
#pragma once
#include <string>

extern const char kTavbootVersion[];  // "0.0.10"

// What one port operation did, for its log record.
struct LogEntry {
    const char* operation;  // "download", "hwinfo", "appinfo", "station"
    std::string port;
    std::string file;       // empty: the operation has no file
    int status;             // exit status of the operation
    int attempts;
    double seconds;
};

// Opens path for appending (created when missing). Prints why and returns 0 when
// it cannot be opened. Processes forked afterwards share the open log.
int OpenRunLog(const std::string& path);
// Appends the record of entry, with the image, identity and last box of the loader
// and console state as the operation left them. Nothing when no log is open.
void WriteLogRecord(const LogEntry& entry);
// The record's text without the line end (for tests of the format through the binary).
std::string LogRecordText(const LogEntry& entry);

// Platform: the log file opened for appending (-1 on failure), one whole write, the host's name.
int OpenAppendFile(const char* path);
int AppendWhole(int file, const std::string& text);
std::string HostName();
