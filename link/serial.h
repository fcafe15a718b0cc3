// Serial port: the loader's one connection to the device, 19200 8N1, in g_loader.port.
#pragma once
#include <cstddef>
#include <cstdint>

// Opens port_name (COM1..COM9, or on POSIX any device path) exclusively, sets
// baud_text baud 8N1 without flow control and read time-out T = read_timeout_ms.
// A port still held in the loader state is closed first. Returns nonzero on
// success; on any failure returns 0, the loader state holds no port and
// g_loader.port_open_error the system's reason.
int OpenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms);

// POSIX: the device path that OpenPort opens for port_name (COMn is /dev/ttyS<n-1>).
void PortDevicePath(const char* port_name, char* path, size_t capacity);

// Closes the held port; no effect when none is open.
void ClosePort();

// One blocking write of count bytes; returns the count written (0 on failure).
int WritePort(const uint8_t* bytes, int32_t count);

// Read contract: returns when count bytes have arrived or count + T ms after the
// call began, whichever is first, with the number of bytes that arrived (0 to
// count). A short read is the only failure signal. Bytes arriving after the read
// has ended stay queued for the next read; nothing is ever flushed. A hang-up or
// I/O error ends the read at once with what had arrived.
int ReadPort(uint8_t* destination, int32_t count);
