// The run log's file on each platform: opened for appending, written whole, and the host's name.
#pragma once
#include <cstddef>
#include <string>

// The log file opened for appending (-1 on failure).
int OpenAppendFile(const char* path);
// One whole write. Safe in a signal handler.
int AppendWhole(int file, const char* text, size_t size);
std::string HostName();
