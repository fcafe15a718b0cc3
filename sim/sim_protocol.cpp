// Simulated device behaviour: the application's Modbus answers and the bootloader's byte protocol.
#include <algorithm>
#include <cstring>

#include "link/checksum.h"
#include "link/device_commands.h"
#include "sim/sim_internal.h"

enum : uint8_t {
    kSimGarbageByte = 0x3C,   // neither an acknowledgement nor a status the loader singles out
    kSimRefusal = 0x55,       // the bootloader's answer to a message it does not take
    kSimExceptionFlag = 0x80, // Modbus exception reply: function code | 0x80
    kSimIllegalAddress = 0x02,
};

enum : int {
    kSimLateByteDelayMs = 30,
    kSimVerySlowDefaultMs = 4900,
    kSimShortIdentitySize = 31,
    kSimShortAppReplySize = 20,
    kSimExceptionReplySize = 5,
    kSimFloodChunk = 256,
    kSimFirstDataOffset = 4096,  // flash address of the first data message
    kSimMessageDataSize = 32,
    kSimMessagesPerPage = 32,
};

static int HasFault(const SimDevice* device, SimFault fault) {
    return device->config.fault == fault;
}

static int FaultAt(const SimDevice* device, SimFault fault, int where) {
    return HasFault(device, fault) && device->config.fault_arg == where;
}

static int HangsUpIn(const SimDevice* device, SimHangupPhase phase) {
    return FaultAt(device, SimFaultHangupInPhase, phase);
}

// Keeps the latest `capacity` bytes received, for finding requests by their content.
static void PushWindow(SimDevice* device, uint8_t byte, int capacity) {
    if (device->window_length >= capacity) {
        std::memmove(device->window, device->window + 1, static_cast<size_t>(capacity - 1));
        device->window_length = capacity - 1;
    }
    device->window[device->window_length++] = byte;
}

static int WindowEndsWith(const SimDevice* device, const uint8_t* bytes, int count) {
    return device->window_length >= count &&
           std::memcmp(device->window + device->window_length - count, bytes,
                       static_cast<size_t>(count)) == 0;
}

static void EnterPhase(SimDevice* device, SimPhase phase) {
    device->phase = phase;
    device->in_boot_mode = phase != SimPhaseApplication;
    device->window_length = 0;
    device->message_length = 0;
}

// Answers a finished piece of work (erase, data message, page) after delay_ms:
// the acknowledgement, a refusal, nothing, or the line's drop.
static void AnswerWork(SimDevice* device, int delay_ms, int refuse, int stay_silent, int hang_up) {
    if (HasFault(device, SimFaultVerySlow)) {
        delay_ms = device->config.fault_arg > 0 ? device->config.fault_arg : kSimVerySlowDefaultMs;
    }
    if (hang_up) {
        SimHangUp(device, delay_ms);
    } else if (!stay_silent) {
        SimSendByte(device, refuse ? uint8_t{kSimRefusal} : uint8_t{kAcknowledge}, delay_ms);
    }
}

// ---- Application: Modbus RTU at address 0xFF ----

static void BuildAppInfoRequest(uint8_t* frame) {
    frame[0] = kModbusAddress;                            // device address
    frame[1] = kFunctionReadInput;                        // read input registers
    frame[2] = static_cast<uint8_t>(kFirstInputRegister >> 8);
    frame[3] = static_cast<uint8_t>(kFirstInputRegister);
    frame[4] = static_cast<uint8_t>(kInputRegisterCount >> 8);
    frame[5] = static_cast<uint8_t>(kInputRegisterCount);
    ComputeFrameChecksum(frame, frame + 6, 6);
}

static void SendApplicationInfo(SimDevice* device) {
    if (HangsUpIn(device, SimHangupApplicationInfo)) {
        SimHangUp(device, 0);
        return;
    }
    uint8_t reply[kAppInfoReplySize];
    reply[0] = kModbusAddress;
    if (HasFault(device, SimFaultModbusException)) {
        reply[1] = kFunctionReadInput | kSimExceptionFlag;
        reply[2] = kSimIllegalAddress;
        ComputeFrameChecksum(reply, reply + 3, 3);
        SimSend(device, reply, kSimExceptionReplySize, 0);
        return;
    }
    reply[1] = kFunctionReadInput;
    reply[2] = 2 * kInputRegisterCount;  // byte count
    std::memcpy(reply + kAppNameOffset, device->config.app_name, kAppNameWidth);
    std::memcpy(reply + kAppFwOffset, device->config.fw_version, kAppFwWidth);
    ComputeFrameChecksum(reply, reply + kAppInfoReplySize - 2, kAppInfoReplySize - 2);
    int size = HasFault(device, SimFaultShortAppReply) ? int{kSimShortAppReplySize} : int{kAppInfoReplySize};
    SimSend(device, reply, size, 0);
}

static void AcceptEnterBoot(SimDevice* device) {
    if (HangsUpIn(device, SimHangupEnterBoot)) {
        SimHangUp(device, 0);
        return;
    }
    SimSend(device, device->window, kEnterBootFrameSize, 0);  // the echo
    if (HasFault(device, SimFaultLateExtraByte)) {
        SimSendByte(device, kSimGarbageByte, kSimLateByteDelayMs);
    }
    EnterPhase(device, SimPhaseBoot);
}

// Frames are found by content in the latest 8 bytes, so a frame with a wrong
// address or checksum, or stray bytes before a frame, are simply not answered.
static void TakeApplicationByte(SimDevice* device, uint8_t byte) {
    PushWindow(device, byte, kEnterBootFrameSize);
    uint8_t frame[kEnterBootFrameSize];
    BuildEnterBootFrame(device->config.boot_value, frame);
    if (WindowEndsWith(device, frame, kEnterBootFrameSize)) {
        AcceptEnterBoot(device);
        return;
    }
    BuildAppInfoRequest(frame);
    if (WindowEndsWith(device, frame, kAppInfoRequestSize)) {
        device->window_length = 0;
        // An application still starting hears nothing.
        if (SimNowNs() >= device->app_ready_ns) SendApplicationInfo(device);
    }
}

// ---- Bootloader before the unlock: sync, identity, unlock message ----

static void AnswerSync(SimDevice* device) {
    if (HangsUpIn(device, SimHangupSync)) {
        SimHangUp(device, 0);
        return;
    }
    uint8_t status = device->config.status_byte;
    // A device whose sync fault is limited recovers: the fault a retry overcomes.
    if (device->config.sync_faults == 0 || device->sync_faults_shown < device->config.sync_faults) {
        if (HasFault(device, SimFaultSyncZero)) status = 0x00;
        if (HasFault(device, SimFaultSyncCrcFail)) status = kStatusCrcFailure;
    }
    device->sync_faults_shown += status != device->config.status_byte;
    SimSendByte(device, status, 0);
}

static void SendIdentity(SimDevice* device) {
    if (HangsUpIn(device, SimHangupIdentity)) {
        SimHangUp(device, 0);
        return;
    }
    uint8_t record[kIdentitySize];
    std::memcpy(record + kIdPlatformOffset, device->config.platform, kIdPlatformWidth);
    std::memcpy(record + kIdHwVersionOffset, device->config.hw_version, kIdHwVersionWidth);
    std::memcpy(record + kIdBootSwOffset, device->config.boot_sw_version, kIdBootSwWidth);
    int size = HasFault(device, SimFaultShortIdentity) ? int{kSimShortIdentitySize} : int{kIdentitySize};
    SimSend(device, record, size, 0);
}

static void AcceptUnlock(SimDevice* device) {
    device->type_letter = device->window[device->window_length - kUnlockMessageSize];
    if (HangsUpIn(device, SimHangupUnlock)) {
        SimHangUp(device, 0);
        return;
    }
    device->unlocked = 1;
    if (HasFault(device, SimFaultGarbageBeforeUnlockAck)) {
        for (int i = 0; i < device->config.fault_arg; ++i) SimSendByte(device, kSimGarbageByte, 0);
    }
    SimSendByte(device, kAcknowledge, 0);
    // Every unlock starts a new download: erased flash, messages counted from 0.
    std::fill(device->flash.begin(), device->flash.end(), 0xFF);
    device->messages_received = 0;
    device->erased = 1;
    EnterPhase(device, SimPhaseData);
    AnswerWork(device, device->config.erase_delay_ms, HasFault(device, SimFaultBadEraseAck),
               HasFault(device, SimFaultNoEraseAck), HangsUpIn(device, SimHangupEraseAck));
}

static void TakeBootByte(SimDevice* device, uint8_t byte) {
    PushWindow(device, byte, kUnlockMessageSize);
    if (byte == kSyncByte) AnswerSync(device);
    if (byte == kIdentityRequest) SendIdentity(device);
    if (device->window_length == kUnlockMessageSize && !HasFault(device, SimFaultWrongKey) &&
        std::memcmp(device->window + 1, device->config.key, sizeof device->config.key) == 0) {
        AcceptUnlock(device);
    }
}

// ---- Bootloader after the unlock: data messages, counted into pages ----

// A message the device refuses (bad checksum, or the fault for message k) is
// neither stored nor counted.
static void JudgeDataMessage(SimDevice* device) {
    uint8_t checksum[2];
    ComputeFrameChecksum(device->message, checksum, kDataMessageSize - 2);
    int k = device->messages_received;
    int good = std::memcmp(checksum, device->message + kDataMessageSize - 2, 2) == 0;
    if (good && FaultAt(device, SimFaultHangupAtMessage, k)) {
        SimHangUp(device, 0);
        return;
    }
    if (!good || FaultAt(device, SimFaultBadDataAck, k)) {
        SimSendByte(device, kSimRefusal, 0);
        return;
    }
    if (FaultAt(device, SimFaultNoDataAck, k)) return;
    size_t offset = kSimFirstDataOffset + static_cast<size_t>(kSimMessageDataSize) * static_cast<size_t>(k);
    if (offset + kSimMessageDataSize <= device->flash.size()) {
        std::memcpy(device->flash.data() + offset, device->message + 1, kSimMessageDataSize);
    }
    device->messages_received = k + 1;
    AnswerWork(device, 0, 0, 0, 0);
    if (device->config.doubled_ack == k + 1) AnswerWork(device, 0, 0, 0, 0);
    if (device->messages_received % kSimMessagesPerPage != 0) return;
    int page = device->messages_received / kSimMessagesPerPage - 1;
    AnswerWork(device, device->config.program_delay_ms, FaultAt(device, SimFaultBadPageAck, page),
               FaultAt(device, SimFaultNoPageAck, page),
               HangsUpIn(device, SimHangupPageAck));
}

static void TakeDataByte(SimDevice* device, uint8_t byte) {
    if (device->message_length == 0 && byte != kDataMessageTag) {
        // No further message. After whole pages the bootloader is done and starts the
        // application; a download that stopped inside a page or before the first one
        // leaves it in the bootloader until the next download completes.
        device->unlocked = 0;
        const int whole_pages = device->messages_received > 0 && device->messages_received % kSimMessagesPerPage == 0;
        EnterPhase(device, whole_pages ? SimPhaseApplication : SimPhaseBoot);
        if (whole_pages) device->app_ready_ns = SimNowNs() + int64_t(device->config.app_start_ms) * 1000000;
        if (whole_pages) TakeApplicationByte(device, byte);
        else TakeBootByte(device, byte);
        return;
    }
    device->message[device->message_length++] = byte;
    if (device->message_length < kDataMessageSize) return;
    device->message_length = 0;
    JudgeDataMessage(device);
}

void SimTakeByte(SimDevice* device, uint8_t byte) {
    if (device->phase == SimPhaseHungUp || HasFault(device, SimFaultSilent)) return;
    if (HasFault(device, SimFaultGarbageEcho)) {
        SimSendByte(device, kSimGarbageByte, 0);
        return;
    }
    if (HasFault(device, SimFaultFlood)) {
        device->flooding = 1;
        return;
    }
    switch (device->phase) {
        case SimPhaseApplication: TakeApplicationByte(device, byte); break;
        case SimPhaseBoot: TakeBootByte(device, byte); break;
        case SimPhaseData: TakeDataByte(device, byte); break;
        case SimPhaseHungUp: break;
    }
}

void SimTopUpFlood(SimDevice* device) {
    if (!device->flooding || device->pending_output.size() >= kSimFloodChunk) return;
    uint8_t bytes[kSimFloodChunk];
    std::memset(bytes, device->config.fault_arg & 0xFF, sizeof bytes);
    SimSend(device, bytes, kSimFloodChunk, 0);
}
