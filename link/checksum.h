// Frame checksum: CRC-16/MODBUS by two 256-entry tables, stored low byte first.
#pragma once
#include <cstdint>

// Writes the checksum of message[0..length) to destination[0] (low), destination[1] (high).
void ComputeFrameChecksum(const uint8_t* message, uint8_t* destination, uint16_t length);
