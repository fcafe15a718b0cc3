// Device commands: every exchange with the application (Modbus RTU) and the bootloader.
#pragma once
#include <cstdint>

// Protocol bytes.
enum : uint8_t {
    kModbusAddress = 0xFF,       // device address of both Modbus requests
    kFunctionWriteRegister = 0x06,
    kFunctionReadInput = 0x04,
    kSyncByte = 0x55,            // bootloader answers with one status byte
    kStatusCrcFailure = 0xA0,    // bootloader's own checksum failed
    kIdentityRequest = 0x81,     // answered by the 32-byte boot identity record
    kAcknowledge = 0xAA,         // unlock, erase, data message, page
    kDataMessageTag = 0xAA,      // first byte of every data message
};

enum : uint16_t {
    kEnterBootRegister = 0x001C,
    kFirstInputRegister = 0x0010,
    kInputRegisterCount = 12,
};

enum : int {
    kPollingLimit = 128,          // sync attempts / unlock reads
    kEnterBootFrameSize = 8,
    kAppInfoRequestSize = 8,
    kAppInfoReplySize = 29,
    kIdentitySize = 32,
    kUnlockMessageSize = 5,
    kDataMessageSize = 35,
};

// A device that keeps sending is given up on after 1 s of waiting for quiet.
enum : uint32_t { kQuietLimitMs = 1000 };

// Boot identity record layout (receive buffer after ReadBootIdentity).
enum : int {
    kIdPlatformOffset = 0, kIdPlatformWidth = 16,
    kIdHwVersionOffset = 16, kIdHwVersionWidth = 8,
    kIdBootSwOffset = 24, kIdBootSwWidth = 8,
};

// Application info record layout (receive buffer after ReadApplicationInfo).
enum : int {
    kAppNameOffset = 3, kAppNameWidth = 16,
    kAppFwOffset = 19, kAppFwWidth = 8,
};

// Builds the 8-byte enter-boot request for value into frame (used by the simulator too).
void BuildEnterBootFrame(uint16_t value, uint8_t* frame);

// Every command works on the buffers it is given (the callers pass the loader
// state's transmit and receive buffers) and reports nothing.

// Reads and drops bytes until the line has been quiet for quiet_ms (kQuietLimitMs
// at most); returns the number of bytes dropped.
int DiscardUntilQuiet(uint32_t quiet_ms);

// The commands below allow for answers the line holds back (link/answer_delay.h)
// and note how late they came.

// The enter-boot request; its answer, late parts included, is read and dropped.
void RequestBootMode(uint8_t* transmit, uint8_t* receive);
int ReadApplicationInfo(uint8_t* transmit, uint8_t* receive);
uint8_t SyncBootloader(uint8_t* transmit);
int ReadBootIdentity(uint8_t* receive);
int UnlockBootloader(uint8_t* transmit, uint8_t* receive, uint8_t type_letter);
int ReadAcknowledge(uint8_t* receive);
// The acknowledgement of the last page, then quiet for as long as the line may
// hold an answer (g_loader.answer_hold_ms and a margin): any byte after
// it means an earlier answer was taken for a later one, and fails the page.
int ReadLastPageAcknowledge(uint8_t* receive);
// Fails without sending when a byte already waits: loader and device no longer
// agree which answer belongs to which message.
int SendDataMessage(uint8_t* transmit, uint8_t* receive, const uint8_t* image_bytes);
