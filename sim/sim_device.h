// Simulated device: application (Modbus RTU) and bootloader on the master side of a pseudo-terminal.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

enum : int32_t { kSimFlashSize = 260000 };

// Faults the device can show; fault_arg says where for those that need it.
enum SimFault {
    SimFaultNone,
    SimFaultSilent,              // answers nothing at all
    SimFaultSyncZero,            // answers the sync byte with 0x00
    SimFaultSyncCrcFail,         // answers the sync byte with 0xA0
    SimFaultShortIdentity,       // identity record of 31 bytes
    SimFaultWrongKey,            // expects another key: never acknowledges the unlock
    SimFaultNoEraseAck,          // acknowledges the unlock but never the erase
    SimFaultBadEraseAck,         // erase answered with 0x55 instead of 0xAA
    SimFaultBadDataAck,          // data message fault_arg (0-based, whole image) answered 0x55
    SimFaultNoDataAck,           // data message fault_arg gets no answer
    SimFaultNoPageAck,           // page fault_arg (0-based) gets no page acknowledgement
    SimFaultBadPageAck,          // page fault_arg answered 0x55
    SimFaultLateExtraByte,       // the enter-boot echo gets one more byte, 30 ms late
    SimFaultGarbageBeforeUnlockAck,  // fault_arg bytes of garbage before the unlock ack
    SimFaultHangupAtMessage,     // closes the master when data message fault_arg arrives
    SimFaultShortAppReply,       // application info reply of 20 bytes
    SimFaultModbusException,     // application info answered by a 5-byte exception reply
    SimFaultNotInApplication,    // starts in boot mode: Modbus requests go unanswered
    SimFaultFlood,               // from the first byte received on, sends byte fault_arg without end
    SimFaultGarbageEcho,         // answers every byte received with one garbage byte
    SimFaultVerySlow,            // erase, data and page acks fault_arg ms late (4900 when 0)
    SimFaultHangupInPhase,       // closes the master instead of answering phase fault_arg:
                                 // 0 enter-boot, 1 sync, 2 identity, 3 unlock, 4 erase ack,
                                 // 5 page ack, 6 application info
};

// Where the device is in the protocol.
enum SimPhase {
    SimPhaseApplication,  // Modbus requests
    SimPhaseBoot,         // sync, identity, unlock
    SimPhaseData,         // after the unlock: 35-byte data messages
    SimPhaseHungUp,       // master closed: serves nothing more
};

// One byte (or the hang-up) leaving the device no earlier than due_ns (monotonic).
struct SimOutput {
    int64_t due_ns;
    uint8_t byte;
    bool hangup;
};

// One received byte, taken (acted on) no earlier than due_ns.
struct SimInput {
    int64_t due_ns;
    uint8_t byte;
};

struct SimConfig {
    char platform[16];       // boot identity bytes 0-15 (zero padded)
    char hw_version[8];      // bytes 16-23
    char boot_sw_version[8]; // bytes 24-31
    char app_name[16];       // application info bytes 3-18
    char fw_version[8];      // bytes 19-26
    uint8_t status_byte;     // answer to the sync byte when healthy
    uint16_t boot_value;     // enter-boot value the application accepts
    uint8_t key[4];          // unlock key the bootloader accepts
    int erase_delay_ms;      // between the unlock ack and the erase ack
    int program_delay_ms;    // before each page acknowledgement
    int paced;               // 1: bytes move at 19200 baud (10 bits a byte) both ways
    SimFault fault;
    int fault_arg;
    int sync_faults;         // > 0: sync-zero and sync-crc-fail answer only this many sync bytes
    int adapter_latency_ms;  // > 0: answers pass a USB adapter with this latency timer
    uint8_t stale[64];       // bytes waiting in the line before the first opener
    int stale_length;
    int doubled_ack;         // > 0: data message doubled_ack (1-based) is acknowledged twice
    int app_start_ms;        // after a whole download the application answers only this much later
};

struct SimDevice {
    SimConfig config;
    int master_fd;            // -1 when closed
    int slave_fd;             // held open so the master never sees the line drop
    char slave_path[128];     // what the loader opens
    std::thread worker;
    std::atomic<bool> stop_requested;
    std::atomic<bool> running;
    std::mutex lock;          // guards everything below
    SimPhase phase;
    int in_boot_mode;
    int unlocked;
    int erased;
    uint8_t type_letter;      // first byte of the accepted unlock message
    int messages_received;    // good data messages, whole image
    std::vector<uint8_t> received;  // every byte the device received, in order
    std::vector<uint8_t> flash;     // kSimFlashSize bytes, 0xFF when erased

    // Worker's own state (the worker thread only)
    uint8_t window[8];        // latest bytes: Modbus frame / unlock message search
    int window_length;
    uint8_t message[35];      // data message being received
    int message_length;
    std::deque<SimInput> pending_input;    // received, not yet taken
    std::deque<SimOutput> pending_output;  // due times never decrease
    int64_t input_clock_ns;   // when the latest received byte is taken
    int64_t taking_since_ns;  // when the byte being acted on was taken; 0 between bytes
    int output_blocked;       // the line's buffer is full: wait until writable
    int64_t adapter_epoch_ns; // the adapter's latency timer expires at epoch + k * latency;
                              // restarted by every packet it hands on
    int flooding;
    int sync_faults_shown;    // sync bytes answered with the sync fault
    int64_t app_ready_ns;     // the application answers from here on (monotonic)
};

// Copies text into a fixed-width field, zero padded, cut at width.
void SimSetText(char* field, size_t width, const char* text);

// A healthy device with the build-time boot value and key, identity
// "TAV-SIM-PLATFORM"/"HW 1.0"/"BOOT 2.1", application "TavSim App"/"FW 3.4".
void SimDefaultConfig(SimConfig* config);

// Opens a raw pseudo-terminal for the device; slave_path names the loader's end.
int SimOpen(SimDevice* device, const SimConfig* config);
// Serves the device in a thread of its own until SimStop.
int SimStartThread(SimDevice* device);
// Serves the device on the calling thread until stop_requested is set.
void SimRun(SimDevice* device);
// Stops the thread (if any) and closes the master.
void SimStop(SimDevice* device);

// Copies of the recorded state, taken under the lock.
std::vector<uint8_t> SimReceived(SimDevice* device);
std::vector<uint8_t> SimFlash(SimDevice* device);
