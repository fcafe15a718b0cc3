// Device commands: the Modbus requests to the application and the bootloader's byte protocol.
#include "link/device_commands.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "core/loader_state.h"
#include "link/answer_delay.h"
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

int DiscardUntilQuiet(uint32_t quiet_ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point give_up = Clock::now() + std::chrono::milliseconds(kQuietLimitMs);
    int dropped = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now()).count();
        if (left <= 0) return dropped;
        const uint32_t wait_ms = left < quiet_ms ? static_cast<uint32_t>(left) : quiet_ms;
        uint8_t bytes[64];
        const int got = ReadWaiting(bytes, sizeof bytes, wait_ms);
        if (got == 0 && wait_ms == quiet_ms) return dropped;
        dropped += got;
    }
}

// The latest held bytes are the request's own: the echo has come whole.
static int EchoEnds(const uint8_t* latest, int held, const uint8_t* request) {
    return held == kEnterBootFrameSize && std::memcmp(latest, request, kEnterBootFrameSize) == 0;
}

void RequestBootMode(uint8_t* transmit, uint8_t* receive) {
    BuildEnterBootFrame(g_loader.enter_boot_value, transmit);
    const double sent = MonotonicMs();
    WritePort(transmit, kEnterBootFrameSize);
    // The application echoes the request, but whether it did shows only in
    // whether the bootloader answers the sync byte afterwards. An echo that came
    // whole (the request's own bytes, last) leaves nothing behind. The rest of a
    // short one may still be held by the line and would pass for the sync
    // status, and bytes of an earlier operation still held may have come before
    // it: the line is read until the echo's end has come, for as long as any
    // line can hold it.
    g_loader.answer_hold_ms = kLongestHoldMs;
    uint8_t arrived[kEnterBootFrameSize];
    int count = ReadPort(receive, kEnterBootFrameSize);
    std::memcpy(arrived, receive, static_cast<size_t>(count));
    uint8_t latest[kEnterBootFrameSize];  // the latest bytes, oldest first
    int held = 0;
    const double give_up = sent + kEnterBootFrameSize + g_loader.read_timeout_ms + kLongestHoldMs + kHoldMarginMs;
    for (;;) {
        // Bytes after the echo's end in the same read answer nothing that was asked: dropped.
        for (int i = 0; i < count && !EchoEnds(latest, held, transmit); ++i) {
            if (held == kEnterBootFrameSize) std::memmove(latest, latest + 1, static_cast<size_t>(--held));
            latest[held++] = arrived[i];
        }
        if (EchoEnds(latest, held, transmit)) break;
        const double left = std::ceil(give_up - MonotonicMs());
        count = left > 0 ? ReadWaiting(arrived, kEnterBootFrameSize, static_cast<uint32_t>(left)) : 0;
        if (count == 0) break;
    }
    g_loader.echo_whole = static_cast<uint8_t>(EchoEnds(latest, held, transmit));
    g_loader.echo_arrival_ms = MonotonicMs();
    if (g_loader.echo_whole) NoteAnswerDelay(sent, g_loader.echo_arrival_ms, 2 * kEnterBootFrameSize);
}

int ReadApplicationInfo(uint8_t* transmit, uint8_t* receive) {
    std::memcpy(transmit, kAppInfoRequest, kAppInfoRequestSize);
    const double sent = MonotonicMs();
    WritePort(transmit, kAppInfoRequestSize);
    if (ReadPort(receive, kAppInfoReplySize) != kAppInfoReplySize) return 0;
    NoteAnswerDelay(sent, MonotonicMs(), kAppInfoRequestSize + kAppInfoReplySize);
    return 1;
}

uint8_t SyncBootloader(uint8_t* transmit) {
    transmit[0] = kSyncByte;
    for (int attempt = 0; attempt < kPollingLimit; ++attempt) {
        WritePort(transmit, 1);
        uint8_t status;
        // Any byte ends the polling, whatever it is: 0x00 then reads as no answer.
        if (ReadPort(&status, 1) != 1) continue;
        LearnAnswerHold(MonotonicMs());
        // A status that answered the first poll leaves nothing behind. After a
        // later one, answers to the earlier polls may still be held by the line
        // and would lead the identity record: they are read and dropped until
        // the line has been quiet for as long as it may hold an answer.
        if (status != 0 && attempt > 0) DiscardUntilQuiet(g_loader.answer_hold_ms + kHoldMarginMs);
        return status;
    }
    return 0;
}

int ReadBootIdentity(uint8_t* receive) {
    const uint8_t request = kIdentityRequest;
    const double sent = MonotonicMs();
    WritePort(&request, 1);
    // The record's last bytes may come as late as the line holds answers.
    int got = ReadPort(receive, kIdentitySize);
    if (got < kIdentitySize) {
        got += ReadUntil(receive + got, kIdentitySize - got, MonotonicMs() + g_loader.answer_hold_ms + kHoldMarginMs);
    }
    if (got != kIdentitySize) return 0;
    NoteAnswerDelay(sent, MonotonicMs(), 1 + kIdentitySize);
    return 1;
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
    // The end of the last page is the one place in the transfer where a late
    // byte can exist unasked: wait as long as the line may hold one.
    return ReadAcknowledge(receive) && DiscardUntilQuiet(g_loader.answer_hold_ms + kHoldMarginMs) == 0;
}

int SendDataMessage(uint8_t* transmit, uint8_t* receive, const uint8_t* image_bytes) {
    if (InputWaiting()) return 0;
    transmit[0] = kDataMessageTag;
    std::memcpy(transmit + 1, image_bytes, kMessageDataSize);
    ComputeFrameChecksum(transmit, transmit + 1 + kMessageDataSize, 1 + kMessageDataSize);
    const double sent = MonotonicMs();
    WritePort(transmit, kDataMessageSize);
    if (!ReadAcknowledge(receive)) return 0;
    NoteAnswerDelay(sent, MonotonicMs(), kDataMessageSize + 1);
    return 1;
}
