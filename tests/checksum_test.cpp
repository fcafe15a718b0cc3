// Frame checksum against the CRC-16/MODBUS check value and the loader's fixed frames.
#include <gtest/gtest.h>

#include <cstring>

#include "link/checksum.h"
#include "tests/link_test_support.h"

namespace {

uint16_t Checksum(const uint8_t* bytes, uint16_t length) {
    uint8_t out[2];
    ComputeFrameChecksum(bytes, out, length);
    return uint16_t(out[0] | (out[1] << 8));
}

}  // namespace

TEST(FrameChecksum, KnownValuesLowByteFirst) {
    const char* check = "123456789";
    uint8_t out[2];
    ComputeFrameChecksum(reinterpret_cast<const uint8_t*>(check), out, 9);
    EXPECT_EQ(out[0], 0x37);
    EXPECT_EQ(out[1], 0x4B);

    const uint8_t request[] = {0xFF, 0x04, 0x00, 0x10, 0x00, 0x0C};
    ComputeFrameChecksum(request, out, 6);
    EXPECT_EQ(out[0], 0xE4);
    EXPECT_EQ(out[1], 0x14);

    ComputeFrameChecksum(request, out, 0);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
}

TEST(FrameChecksum, MatchesBitwiseCrcForEveryByteAndDataMessages) {
    for (int value = 0; value < 256; ++value) {
        const uint8_t byte = uint8_t(value);
        ASSERT_EQ(Checksum(&byte, 1), ReferenceCrc(&byte, 1)) << value;
    }
    uint8_t message[33];
    std::memset(message, 0xFF, sizeof message);
    message[0] = 0xAA;
    EXPECT_EQ(Checksum(message, 33), ReferenceCrc(message, 33));
    for (int i = 0; i < 33; ++i) message[i] = uint8_t(i * 37 + 11);
    EXPECT_EQ(Checksum(message, 33), ReferenceCrc(message, 33));
}
