// Late answers: how long the line holds the device's answers back, learned anew by each operation.
#pragma once
#include <cstdint>

enum : uint32_t {
    kLongestHoldMs = 255,  // the longest latency timer a USB adapter can be set to
    kHoldMarginMs = 20,    // USB frames and the computer's own wake-ups on top of a hold
};

// Milliseconds on the monotonic clock.
double MonotonicMs();

// At the start of every device operation: nothing is known of the line yet, so
// it may hold an answer as long as any line can.
void ForgetAnswerDelays();

// An answer that came whole: its request went out at sent_ms, wire_bytes crossed
// the line both ways, and its last byte was read at arrived_ms. Counts how late
// it came beyond the wire time into g_loader.answer_delay_ms (the median) and
// g_loader.answer_delay_total_ms.
void NoteAnswerDelay(double sent_ms, double arrived_ms, int wire_bytes);

// The first sync status was read at status_ms: bounds g_loader.answer_hold_ms.
void LearnAnswerHold(double status_ms);

// Reads into destination until count bytes have come or the monotonic clock
// reaches deadline_ms; returns how many came.
int ReadUntil(uint8_t* destination, int count, double deadline_ms);
