// The run log's file on each platform: opened for appending, written whole, and the host's name.
#pragma once
#include <cstddef>
#include <string>

// OpenAppendFile's answer for a path that is no regular file.
const int kNotARegularFile = -2;
// The log file opened for appending (-1 on failure, errno set; kNotARegularFile), never waiting.
int OpenAppendFile(const char* path);
// One whole write, or 0 with errno and nothing of it left where the next record would join it.
// Safe in a signal handler.
int AppendWhole(int file, const char* text, size_t size);
std::string HostName();
// The user the environment names (USER or LOGNAME; USERNAME on Windows), empty when none.
std::string UserName();
