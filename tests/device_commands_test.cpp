// Device commands byte for byte over a pseudo-terminal, with the test playing the device.

#include <cstring>
#include <thread>

#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "tests/link_test_support.h"

namespace {

using DeviceCommandsTest = PtyLinkTest;

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    uint16_t crc = ReferenceCrc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

TEST_F(DeviceCommandsTest, ModbusRequestsAreExactFrames) {
    OpenLoaderPort(8);
    RequestBootMode(g_loader.transmit, g_loader.receive);
    uint8_t hi = static_cast<uint8_t>(TAVBOOT_ENTER_BOOT_VALUE >> 8);
    uint8_t lo = static_cast<uint8_t>(TAVBOOT_ENTER_BOOT_VALUE);
    EXPECT_EQ(Sent(9), WithCrc({0xFF, 0x06, 0x00, 0x1C, hi, lo}));

    g_loader.enter_boot_value = 0x1234;  // the command line's --boot-value
    RequestBootMode(g_loader.transmit, g_loader.receive);
    EXPECT_EQ(Sent(9), WithCrc({0xFF, 0x06, 0x00, 0x1C, 0x12, 0x34}));

    ReadApplicationInfo(g_loader.transmit, g_loader.receive);
    EXPECT_EQ(Sent(9), (std::vector<uint8_t>{0xFF, 0x04, 0x00, 0x10, 0x00, 0x0C, 0xE4, 0x14}));
}

TEST_F(DeviceCommandsTest, ApplicationInfoJudgedByLengthOnly) {
    OpenLoaderPort(8);
    std::vector<uint8_t> reply(29, 'x');
    reply[0] = 0x01;  // wrong address, function and checksum are not examined
    reply[3] = 'N';
    WriteAll(pty.master, reply);
    EXPECT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 1);
    EXPECT_EQ(g_loader.receive[3], 'N');

    WriteAll(pty.master, WithCrc({0xFF, 0x84, 0x02}));  // Modbus exception reply
    double start = NowMs();
    EXPECT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 0);
    EXPECT_GE(NowMs() - start, 37.0);
    EXPECT_EQ(g_loader.receive[1], 0x84);
}

TEST_F(DeviceCommandsTest, SyncPollsASilentPort128TimesThenGivesUp) {
    OpenLoaderPort(8);
    double start = NowMs();
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0);
    double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 128 * 9.0);
    EXPECT_LT(elapsed, 10000.0);
    EXPECT_EQ(Sent(1000), std::vector<uint8_t>(128, 0x55));
}

TEST_F(DeviceCommandsTest, SyncTakesTheFirstByteWhateverItIs) {
    OpenLoaderPort(100);
    WriteAll(pty.master, {0x00});  // 0x00 ends the polling like silence would not
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0);
    EXPECT_EQ(Sent(2), std::vector<uint8_t>{0x55});

    WriteAll(pty.master, {0x42});  // a late byte of an earlier answer passes as status
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0x42);
    EXPECT_EQ(Sent(2), std::vector<uint8_t>{0x55});

    // The bootloader wakes during the polling: answers the third sync byte.
    std::thread device([this] {
        ReadUpTo(pty.master, 3, 2000);
        WriteAll(pty.master, {0xA0});
    });
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0xA0);
    device.join();
    EXPECT_TRUE(Sent(1, 50).empty());
}

TEST_F(DeviceCommandsTest, IdentityNeedsAll32Bytes) {
    OpenLoaderPort(8);
    std::memset(g_loader.transmit, 0x77, sizeof g_loader.transmit);
    std::vector<uint8_t> record(32);
    for (size_t i = 0; i < 32; ++i) record[i] = static_cast<uint8_t>('A' + i);
    WriteAll(pty.master, record);
    EXPECT_EQ(ReadBootIdentity(g_loader.receive), 1);
    EXPECT_EQ(std::vector<uint8_t>(g_loader.receive, g_loader.receive + 32), record);
    EXPECT_EQ(Sent(2), std::vector<uint8_t>{0x81});
    EXPECT_EQ(g_loader.transmit[0], 0x77);  // the request has a byte of its own

    std::memset(g_loader.receive, 0, sizeof g_loader.receive);
    WriteAll(pty.master, std::vector<uint8_t>(record.begin(), record.begin() + 31));
    EXPECT_EQ(ReadBootIdentity(g_loader.receive), 0);
    EXPECT_EQ(g_loader.receive[30], record[30]);  // what arrived stays
}

TEST_F(DeviceCommandsTest, UnlockSendsLetterAndKeyOnceAndSkipsOtherBytes) {
    OpenLoaderPort(8);
    std::vector<uint8_t> answers(127, 0x55);
    answers.push_back(0xAA);  // the 128th read
    WriteAll(pty.master, answers);
    EXPECT_EQ(UnlockBootloader(g_loader.transmit, g_loader.receive, 't'), 1);
    uint32_t key = TAVBOOT_UNLOCK_KEY;
    EXPECT_EQ(Sent(6), (std::vector<uint8_t>{'t', uint8_t(key >> 24), uint8_t(key >> 16),
                                             uint8_t(key >> 8), uint8_t(key)}));

    const uint8_t other_key[4] = {1, 2, 3, 4};  // the command line's --unlock-key
    std::memcpy(g_loader.unlock_key, other_key, 4);
    answers.insert(answers.begin(), 0x00);  // now 0xAA is the 129th byte
    WriteAll(pty.master, answers);
    EXPECT_EQ(UnlockBootloader(g_loader.transmit, g_loader.receive, 'h'), 0);
    EXPECT_EQ(Sent(6), (std::vector<uint8_t>{'h', 1, 2, 3, 4}));
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 1);  // it was left queued

    double start = NowMs();
    EXPECT_EQ(UnlockBootloader(g_loader.transmit, g_loader.receive, 'h'), 0);
    EXPECT_GE(NowMs() - start, 128 * 9.0);
    EXPECT_EQ(Sent(6).size(), 5u);
}

TEST_F(DeviceCommandsTest, AcknowledgementIsOneByte0xAA) {
    OpenLoaderPort(8);
    WriteAll(pty.master, {0xAA, 0xAA});  // two where one was expected
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 1);
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 1);
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 0);
    WriteAll(pty.master, {0x55});
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 0);
    EXPECT_EQ(g_loader.receive[0], 0x55);
}

TEST_F(DeviceCommandsTest, DataMessageIsTagDataAndChecksum) {
    OpenLoaderPort(8);
    for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        uint8_t data[32];
        for (int i = 0; i < 32; ++i) data[i] = fill == 0 ? static_cast<uint8_t>(i * 7) : fill;
        std::vector<uint8_t> sent;
        std::thread device([this, &sent] {
            sent = ReadUpTo(pty.master, 35, 2000);
            WriteAll(pty.master, {0xAA});
        });
        EXPECT_EQ(SendDataMessage(g_loader.transmit, g_loader.receive, data), 1);
        device.join();
        std::vector<uint8_t> expected{0xAA};
        expected.insert(expected.end(), data, data + 32);
        EXPECT_EQ(sent, WithCrc(expected));
    }
    uint8_t data[32] = {};
    EXPECT_EQ(SendDataMessage(g_loader.transmit, g_loader.receive, data), 0);  // no answer
    EXPECT_EQ(Sent(35).size(), 35u);
    // An answer already waiting belongs to no message sent yet: nothing goes out.
    WriteAll(pty.master, {0xAA});
    ASSERT_TRUE(WaitUntilQueued(pty.slave, 1));
    EXPECT_EQ(SendDataMessage(g_loader.transmit, g_loader.receive, data), 0);
    EXPECT_TRUE(Sent(35, 100).empty());
}

}  // namespace
