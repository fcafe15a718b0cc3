// Line trace: the hook through which a front end sees every byte on the line.
#include "link/serial.h"

static LineTraceSink g_trace_sink = nullptr;

void SetLineTrace(LineTraceSink sink) {
    g_trace_sink = sink;
}

void TraceLine(char direction, const uint8_t* bytes, int32_t count) {
    if (g_trace_sink != nullptr && count > 0) g_trace_sink(direction, bytes, count);
}
