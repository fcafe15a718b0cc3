// Frame checksum: CRC-16/MODBUS through two look-up tables built at compile time.
#include "link/checksum.h"

#include <array>

namespace {

struct ChecksumTables {
    std::array<uint8_t, 256> low;
    std::array<uint8_t, 256> high;
};

// Entry i is the reflected CRC-16 of i for polynomial 0xA001, split into bytes.
constexpr ChecksumTables BuildTables() {
    ChecksumTables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ 0xA001u : value >> 1;
        tables.low[i] = static_cast<uint8_t>(value & 0xFFu);
        tables.high[i] = static_cast<uint8_t>(value >> 8);
    }
    return tables;
}

constexpr ChecksumTables kTables = BuildTables();
static_assert(kTables.low[1] == 0xC1 && kTables.high[1] == 0xC0, "CRC-16/MODBUS table");

}  // namespace

void ComputeFrameChecksum(const uint8_t* message, uint8_t* destination, uint16_t length) {
    uint8_t low = 0xFF;
    uint8_t high = 0xFF;
    for (uint16_t i = 0; i < length; ++i) {
        const uint8_t index = low ^ message[i];
        low = high ^ kTables.low[index];
        high = kTables.high[index];
    }
    destination[0] = low;
    destination[1] = high;
}
