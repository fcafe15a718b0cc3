// Simulated device internals shared by the line handling and the protocol behaviour.
#pragma once
#include <cstdint>

#include "sim/sim_device.h"

// One byte on the line at 19200 baud: start bit, 8 data bits, stop bit.
constexpr int64_t kSimByteTimeNs = 10 * 1000000000LL / 19200;

// Phases that SimFaultHangupInPhase can pick with fault_arg.
enum SimHangupPhase {
    SimHangupEnterBoot,
    SimHangupSync,
    SimHangupIdentity,
    SimHangupUnlock,
    SimHangupEraseAck,
    SimHangupPageAck,
    SimHangupApplicationInfo,
};

int64_t SimNowNs();

// Queues count bytes to leave the device delay_ms from now, after whatever is
// already queued (and at the line's pace when paced).
void SimSend(SimDevice* device, const uint8_t* bytes, int count, int delay_ms);
void SimSendByte(SimDevice* device, uint8_t byte, int delay_ms);
// Queues the line's drop (the master closes) after what is already queued.
void SimHangUp(SimDevice* device, int delay_ms);

// Acts on one received byte; called with the device's lock held.
void SimTakeByte(SimDevice* device, uint8_t byte);
// Queues more flood bytes when the queue runs low.
void SimTopUpFlood(SimDevice* device);
