// Serial port pieces both platforms share: the line trace hook, the line's record and the Win32 names of ports.
#include <cstdio>
#include <cstring>

#include "core/loader_state.h"
#include "link/port_names.h"
#include "link/serial.h"

static LineTraceSink g_trace_sink = nullptr;

void SetLineTrace(LineTraceSink sink) {
    g_trace_sink = sink;
}

void TraceLine(char direction, const uint8_t* bytes, int32_t count) {
    if (g_trace_sink != nullptr && count > 0) g_trace_sink(direction, bytes, count);
}

void RecordLineEvent(LineEvent event, int system_error) {
    if (g_loader.line_event == kLineHangUp || g_loader.line_event == kLineIoError) return;
    g_loader.line_event = event;
    g_loader.system_error = system_error;
}

void Win32DevicePath(const char* port_name, char* path, size_t capacity) {
    static const char kDevicePrefix[] = "\\\\.\\";
    const bool has_prefix = std::strncmp(port_name, kDevicePrefix, sizeof kDevicePrefix - 1) == 0;
    std::snprintf(path, capacity, "%s%s", has_prefix ? "" : kDevicePrefix, port_name);
}
