// Late answers: the line's hold learned from the answers' arrival times, and how late they came.
#include "link/answer_delay.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "core/loader_state.h"
#include "link/serial.h"

// One byte on the line at 19200 baud: start bit, 8 data bits, stop bit.
static const double kByteMs = 10 * 1000.0 / 19200;

double MonotonicMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(since).count();
}

void ForgetAnswerDelays() {
    g_loader.echo_whole = 0;
    g_loader.echo_arrival_ms = 0;
    g_loader.answer_hold_ms = kLongestHoldMs;
    g_loader.answer_count = 0;
    g_loader.answer_delay_ms = 0;
    g_loader.answer_delay_total_ms = 0;
    std::memset(g_loader.answer_delays, 0, sizeof g_loader.answer_delays);
}

void NoteAnswerDelay(double sent_ms, double arrived_ms, int wire_bytes) {
    const double late = arrived_ms - sent_ms - wire_bytes * kByteMs;
    if (late > 0) g_loader.answer_delay_total_ms += late;
    const int bucket = late <= 0 ? 0 : late >= kAnswerDelayBuckets - 1 ? kAnswerDelayBuckets - 1 : int(late);
    ++g_loader.answer_delays[bucket];
    ++g_loader.answer_count;
    uint32_t below = 0;
    int median = 0;
    while ((below += g_loader.answer_delays[median]) * 2 < g_loader.answer_count) ++median;
    g_loader.answer_delay_ms = static_cast<uint32_t>(median);
}

// A line that holds answers back (a USB adapter's latency timer) hands them on
// only when its timer expires, so two answers it handed on lie at least one
// period apart: the time from the whole echo to the first status bounds how long
// it can hold any answer. Without the echo nothing bounds it.
void LearnAnswerHold(double status_ms) {
    if (!g_loader.echo_whole) return;
    const double since_echo = std::ceil(status_ms - g_loader.echo_arrival_ms);
    if (since_echo < g_loader.answer_hold_ms) g_loader.answer_hold_ms = static_cast<uint32_t>(since_echo);
}

int ReadUntil(uint8_t* destination, int count, double deadline_ms) {
    int got = 0;
    while (got < count) {
        const double left = deadline_ms - MonotonicMs();
        if (left <= 0) break;
        const int arrived = ReadWaiting(destination + got, count - got, static_cast<uint32_t>(std::ceil(left)));
        if (arrived == 0) break;
        got += arrived;
    }
    return got;
}
