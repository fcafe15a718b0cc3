// The run log: one JSON line per port operation, appended with one write so parallel ports never interleave.
#pragma once
#include <string>

// What one port operation did, for its log record.
struct LogEntry {
    const char* operation;  // "download", "hwinfo", "appinfo", "station"
    std::string port;
    std::string file;       // empty: the operation has no file
    int status;             // exit status of the operation
    int attempts;
    double seconds;
};

// Opens path for appending (created when missing). Returns 0 with why when it
// cannot be opened. Processes forked afterwards share the open log.
int OpenRunLog(const std::string& path, std::string* why);
// Appends the record of entry, with the image, identity and last box of the loader
// and console state as the operation left them. Nothing when no log is open.
void WriteLogRecord(const LogEntry& entry);
// The record's text without the line end.
std::string LogRecordText(const LogEntry& entry);
// Prepares the record an interrupt appends for the operation of entry, started at
// `started` (monotonic seconds): as the state is now, result "interrupted".
void PrepareInterruptRecord(const LogEntry& entry, double started);
// Prepares it again with what the operation has learnt since (the image, the identity).
void RefreshInterruptRecord();
// Safe in a signal handler: appends the prepared record, its seconds counted up to now.
void AppendInterruptRecord();

// Platform: the log file opened for appending (-1 on failure), one whole write, the host's name.
int OpenAppendFile(const char* path);
// Safe in a signal handler.
int AppendWhole(int file, const char* text, size_t size);
std::string HostName();
