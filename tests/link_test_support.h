// Helpers for the device link tests: raw pseudo-terminals, a stopwatch and a simulated device.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/sim_device.h"

// Both ends of a raw pseudo-terminal; the test plays the device on the master.
struct RawPty {
    int master = -1;
    int slave = -1;  // held so the line stays up while the loader closes and reopens
    char path[128] = {};
};

int OpenRawPty(RawPty* pty);
void CloseRawPty(RawPty* pty);
void WriteAll(int fd, const std::vector<uint8_t>& bytes);
// Reads from fd until count bytes have arrived or timeout_ms passed.
std::vector<uint8_t> ReadUpTo(int fd, size_t count, int timeout_ms);
// Waits until at least count bytes wait unread on the terminal fd (what the other
// end wrote has been delivered); returns 0 when they have not after timeout_ms.
int WaitUntilQueued(int fd, int count, int timeout_ms = 5000);

// Milliseconds on the monotonic clock.
double NowMs();

// Bitwise CRC-16/MODBUS, written apart from the table-driven checksum under test.
uint16_t ReferenceCrc(const uint8_t* bytes, size_t length);

// The loader opened on the slave of a raw pseudo-terminal with read time-out T.
class PtyLinkTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void OpenLoaderPort(uint32_t read_timeout_ms);
    // Everything the loader has written so far that reaches the device within timeout_ms.
    std::vector<uint8_t> Sent(size_t count, int timeout_ms = 100);
    RawPty pty;
};

// The loader opened on a running simulated device; tests adjust config in
// their body before calling StartDevice.
class SimLinkTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // T is generous by default so that a busy machine cannot make answers late.
    void StartDevice(uint32_t read_timeout_ms = 100);
    // Enter-boot request, sync, identity, unlock, and the erase acknowledgement
    // on a port reopened with T = erase_timeout_ms; returns 1 when all went through.
    int ReachDataPhase(uint32_t erase_timeout_ms = 5000);
    // Reopens the loader's port with another read time-out, as the loader does.
    int Reopen(uint32_t read_timeout_ms);
    // Sends messages [first, first + count) of image (32 bytes each) and reads the
    // page acknowledgement after every 32nd; returns 1 when all were acknowledged.
    int SendMessages(const std::vector<uint8_t>& image, int first, int count);
    int MessagesReceived();
    SimConfig config;
    SimDevice device;
    bool started = false;
};
