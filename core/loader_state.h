// The loader state: the one program-wide record every operation reads and writes.
#pragma once
#include <cstdint>

#include "core/outcome.h"

// Sizes fixed by the device protocol and the file formats.
enum : int32_t {
    kRawFileCapacity = 4194304, // raw file buffer: the largest file accepted (4 MiB; an
                                // objcopy HEX of the largest image needs about 715 KB)
    kImageCapacity = 260000,    // image buffer: offset = device address
    kTransmitSize = 35,         // largest outgoing message (data message)
    kReceiveSize = 32,          // largest answer (boot identity record)
    kPortNameCapacity = 256,    // "COM1".."COM9" or, on POSIX, a device path
    kImageFirstOffset = 4096,   // the page transfer starts here
    kPageSize = 1024,
    kMessagesPerPage = 32,
    kMessageDataSize = 32,
    kMinDownloadLength = 4096,    // one page
    kMaxDownloadLength = 259071,  // 249 pages: the last one still ends inside the image buffer
};

// Read time-outs handed to OpenPort, in milliseconds.
enum : uint32_t {
    kShortReadTimeoutMs = 8,     // Modbus requests, sync, identity, unlock
    kLongReadTimeoutMs = 5000,   // erase acknowledgement and page transfer
};

constexpr intptr_t kNoPort = -1;

// Answers counted by how late they came, 0 to 255 ms; later ones in the last.
enum : int32_t { kAnswerDelayBuckets = 257 };

struct LoaderState {
    // Device link
    char port_name[kPortNameCapacity];  // port the next operation opens
    intptr_t port;                      // open port (fd or HANDLE), kNoPort when none
    uint32_t read_timeout_ms;           // T of the current opening (read rule: n + T ms)
    int port_open_error;                // system's reason (errno / GetLastError) the latest OpenPort failed
    uint8_t transmit[kTransmitSize];    // outgoing messages are built here
    uint8_t receive[kReceiveSize];      // answers land here; boot identity after 0x81
    uint8_t last_reply;                 // result of the latest sync/identity/unlock/ack exchange
    uint16_t enter_boot_value;          // Modbus value of the enter-boot request
    uint8_t unlock_key[4];              // sent after the type letter, in this order
    char expected_platform[64];         // the HW platform the device must send; empty: any
    char expected_hw_version[64];       // the HW version it must send; empty: any

    // Late answers, learned anew by every device operation (link/answer_delay.cpp)
    uint8_t echo_whole;                 // 1 when the enter-boot echo came whole, at echo_arrival_ms
    double echo_arrival_ms;             // on the monotonic clock
    uint32_t answer_hold_ms;            // longest the line may still hold an answer back
    uint32_t answer_count;              // answers counted so far
    uint32_t answer_delay_ms;           // median time they came beyond the wire time
    double answer_delay_total_ms;       // all of that time together: what the line's delay cost
    uint32_t answer_delays[kAnswerDelayBuckets];  // answers counted by ms late

    // Firmware image files
    int32_t raw_file_length;             // bytes of raw_file that belong to the current file
    uint8_t image[kImageCapacity];       // decoded image
    int32_t image_length;                // decoder's result
    uint8_t image_loaded;                // 1 only while image/image_length belong to a good file
    uint8_t type_letter;                 // 'h' Intel HEX, 't' memory image; sent in the unlock
    int32_t data_lowest;                 // lowest address that carries data, -1 when none
    int32_t data_end;                    // one past the highest address that carries data
    int32_t data_below_first_offset;     // bytes of data below kImageFirstOffset: never sent

    // Boot control: page transfer
    uint8_t transfer_state;     // 0 idle, 1 prepare, 2 send message, 3 judge page ack
    uint32_t send_position;     // image offset of the next data message
    uint32_t pages_remaining;
    uint8_t page_number;        // pages acknowledged so far
    uint8_t message_countdown;  // data messages left in the current page

    // What the latest operation came to, recorded where it happened
    Outcome outcome;        // kOutcomeNone while an operation runs
    LineEvent line_event;   // how the latest exchange on the line ended; a lost line stays lost until OpenPort
    int system_error;       // errno / GetLastError of the failure, 0 when the system reported none

    // Window handles, set once by the Win32 front end (opaque here)
    void* module_instance;
    void* main_window;

    // Last, so that a reset need not touch its 4 MiB: nothing reads past raw_file_length.
    uint8_t raw_file[kRawFileCapacity];  // the selected file as read
};

extern LoaderState g_loader;

// Start-up defaults: port "COM1", no port, nothing loaded, idle, build-time
// enter-boot value and unlock key. Also used by tests to start afresh; the raw
// file buffer's bytes are left as they are (its length is cleared).
void ResetLoaderState();
