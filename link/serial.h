// Serial port: the loader's one connection to the device, 19200 8N1, in g_loader.port.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/outcome.h"

// Opens port_name (COM1.., or on POSIX any device path) exclusively, sets
// baud_text baud 8N1 in binary mode without flow control of any kind, and read
// time-out T = read_timeout_ms. A port still held in the loader state is closed
// first. Returns nonzero on success; on any failure returns 0, the loader state
// holds no port and g_loader.port_open_error and g_loader.system_error the
// system's reason. Either way the line counts as good again (kLineOk). The
// receive queue is left as it is.
int OpenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms);

// OpenPort, tried again for up to a second while the port is busy or denied:
// a driver may release a port a moment after it was closed (by this run or the
// one before it), so every open of an operation goes this way.
int ReopenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms);

// The device path that OpenPort opens for port_name (POSIX: COMn, any n, is /dev/ttyS<n-1>).
void PortDevicePath(const char* port_name, char* path, size_t capacity);

// Closes the held port, giving the line back as the port's previous user had it
// set; no effect when none is open.
void ClosePort();

// One blocking write of count bytes; returns the count written (0 on failure,
// also when the line cannot drain within a bounded time). Records how it ended
// as ReadPort does.
int WritePort(const uint8_t* bytes, int32_t count);

// Read contract: returns when count bytes have arrived or once count + T ms have
// passed on a monotonic clock since the call began, whichever is first, with the
// number of bytes that arrived (0 to count). Bytes arriving after the read has
// ended stay queued for the next read. A hang-up or I/O error ends the read at
// once with what had arrived. How it ended is left in g_loader.line_event:
// kLineOk (all arrived), kLineTimeOut, kLineHangUp (the line went away) or
// kLineIoError, the last two with the system's error in g_loader.system_error.
int ReadPort(uint8_t* destination, int32_t count);

// Waits up to wait_ms for input and returns what is there (up to capacity bytes)
// as soon as anything is; 0 when the line stayed quiet that long.
int ReadWaiting(uint8_t* destination, int32_t capacity, uint32_t wait_ms);

// Drops every byte waiting in the receive queue.
void ClearReceiveQueue();

// 1 when a byte waits in the receive queue; never waits.
int InputWaiting();

// Trace of the line: every write and every read result, with its direction
// ('>' to the device, '<' from it). Off (nullptr) unless a front end sets it.
typedef void (*LineTraceSink)(char direction, const uint8_t* bytes, int32_t count);
void SetLineTrace(LineTraceSink sink);
// Hands bytes to the trace sink, if any (called by the platform back ends).
void TraceLine(char direction, const uint8_t* bytes, int32_t count);

// Records how a read or write ended (called by the platform back ends). A lost
// line (hang-up, I/O error) stays recorded until the port is opened again.
void RecordLineEvent(LineEvent event, int system_error);
