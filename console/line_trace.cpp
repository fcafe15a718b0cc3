// --trace: every byte on the line printed to stderr with its time since the operation began.
#include "console/console.h"

#include <chrono>
#include <cstdio>

#include "link/serial.h"

namespace {

std::chrono::steady_clock::time_point g_trace_start;

void PrintTraceLine(char direction, const uint8_t* bytes, int32_t count) {
    const std::chrono::duration<double, std::milli> since = std::chrono::steady_clock::now() - g_trace_start;
    std::fprintf(stderr, "trace: %.3f %c", since.count(), direction);
    for (int32_t i = 0; i < count; ++i) std::fprintf(stderr, " %02X", bytes[i]);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

void StartLineTrace(bool wanted) {
    if (!wanted) return;
    g_trace_start = std::chrono::steady_clock::now();
    SetLineTrace(PrintTraceLine);
}
