// POSIX process guards of the production line: children, terminal width, files to remove on interrupt.
#pragma once
#include <sys/types.h>

#include <cstddef>

// In a child: ends it when parent ends, however the parent ends.
void EndWithParent(pid_t parent);
// Columns of the terminal on stderr; 0 when unknown.
size_t TerminalWidth();
// Async-signal-safe: removes what RemoveOnInterrupt named.
void RemoveInterruptLeftovers();
