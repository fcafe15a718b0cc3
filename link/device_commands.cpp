// Device commands: the Modbus requests to the application and the bootloader's byte protocol.
#include "link/device_commands.h"

#include <chrono>
#include <cstring>

#include "core/loader_state.h"
#include "link/checksum.h"
#include "link/serial.h"

// Read 12 input registers from 0x0010 at address 0xFF; the checksum is part of the frame.
static const uint8_t kAppInfoRequest[kAppInfoRequestSize] = {
    0xFF,  // device address
    0x04,  // read input registers
    0x00,  // first register, high byte
    0x10,  // first register, low byte
    0x00,  // register count, high byte
    0x0C,  // register count, low byte
    0xE4,  // checksum low byte
    0x14,  // checksum high byte
};

void BuildEnterBootFrame(uint16_t value, uint8_t* frame) {
    frame[0] = kModbusAddress;                              // device address
    frame[1] = kFunctionWriteRegister;                      // write single register
    frame[2] = static_cast<uint8_t>(kEnterBootRegister >> 8);  // register, high byte
    frame[3] = static_cast<uint8_t>(kEnterBootRegister);       // register, low byte
    frame[4] = static_cast<uint8_t>(value >> 8);            // enter-boot value, high byte
    frame[5] = static_cast<uint8_t>(value);                 // enter-boot value, low byte
    ComputeFrameChecksum(frame, frame + 6, 6);              // checksum, low byte first
}

int DiscardUntilQuiet() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point give_up = Clock::now() + std::chrono::milliseconds(kQuietLimitMs);
    int dropped = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now()).count();
        if (left <= 0) return dropped;
        const uint32_t wait_ms = left < kQuietMs ? static_cast<uint32_t>(left) : uint32_t{kQuietMs};
        uint8_t bytes[64];
        const int got = ReadWaiting(bytes, sizeof bytes, wait_ms);
        if (got == 0 && wait_ms == kQuietMs) return dropped;
        dropped += got;
    }
}

void RequestBootMode(uint8_t* transmit, uint8_t* receive) {
    BuildEnterBootFrame(g_loader.enter_boot_value, transmit);
    WritePort(transmit, kEnterBootFrameSize);
    // The application echoes the request, but whether it did shows only in
    // whether the bootloader answers the sync byte afterwards. A late echo
    // would pass for the sync status: wait until it is over.
    ReadPort(receive, kEnterBootFrameSize);
    DiscardUntilQuiet();
}

int ReadApplicationInfo(uint8_t* transmit, uint8_t* receive) {
    std::memcpy(transmit, kAppInfoRequest, kAppInfoRequestSize);
    WritePort(transmit, kAppInfoRequestSize);
    return ReadPort(receive, kAppInfoReplySize) == kAppInfoReplySize;
}

uint8_t SyncBootloader(uint8_t* transmit) {
    transmit[0] = kSyncByte;
    for (int attempt = 0; attempt < kPollingLimit; ++attempt) {
        WritePort(transmit, 1);
        uint8_t status;
        // Any byte ends the polling, whatever it is: 0x00 then reads as no answer.
        if (ReadPort(&status, 1) != 1) continue;
        // Answers to earlier polls that came too late for their own window
        // would otherwise lead the identity record.
        if (status != 0) DiscardUntilQuiet();
        return status;
    }
    return 0;
}

int ReadBootIdentity(uint8_t* receive) {
    const uint8_t request = kIdentityRequest;
    WritePort(&request, 1);
    return ReadPort(receive, kIdentitySize) == kIdentitySize;
}

int UnlockBootloader(uint8_t* transmit, uint8_t* receive, uint8_t type_letter) {
    transmit[0] = type_letter;
    std::memcpy(transmit + 1, g_loader.unlock_key, sizeof g_loader.unlock_key);
    WritePort(transmit, kUnlockMessageSize);
    // The message goes out once; bytes other than the acknowledgement are skipped.
    for (int reads = 0; reads < kPollingLimit; ++reads) {
        if (ReadPort(receive, 1) == 1 && receive[0] == kAcknowledge) return 1;
    }
    return 0;
}

int ReadAcknowledge(uint8_t* receive) {
    return ReadPort(receive, 1) == 1 && receive[0] == kAcknowledge;
}

int ReadLastPageAcknowledge(uint8_t* receive) {
    return ReadAcknowledge(receive) && DiscardUntilQuiet() == 0;
}

int SendDataMessage(uint8_t* transmit, uint8_t* receive, const uint8_t* image_bytes) {
    if (InputWaiting()) return 0;
    transmit[0] = kDataMessageTag;
    std::memcpy(transmit + 1, image_bytes, kMessageDataSize);
    ComputeFrameChecksum(transmit, transmit + 1 + kMessageDataSize, 1 + kMessageDataSize);
    WritePort(transmit, kDataMessageSize);
    return ReadAcknowledge(receive);
}
