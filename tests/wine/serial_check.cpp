// The Win32 serial and file back ends under Wine: core exchanges and a full download against the simulator.
//
// Usage: serial_check.exe PORT IMAGE_PATH (the device healthy, in its application)
//        serial_check.exe PORT --late-byte (the device adds one late byte after the enter-boot echo)
//        serial_check.exe PORT --flow-left IMAGE_PATH (the port's previous user left flow control on)
// Prints "PASS name" / "FAIL name" per check and exits nonzero when any failed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "core/operator_ui.h"
#include "image/image_file.h"
#include "link/device_commands.h"
#include "link/serial.h"

// Bounds for the read rule (n + T ms); wide, the machine is shared.
enum : DWORD { kTimingSlackMs = 1000 };
enum : int { kMaxTransferTicks = 1 + 33 * 300 };

static std::string s_last_box;
static std::string s_last_status;
static int s_failed_checks;

void SetStatusText(const char* text) {
    s_last_status = text;
    std::printf("  status: %s\n", text);
}

void ShowMessage(const char* text, const char* caption, MessageIcon) {
    s_last_box = std::string(caption) + ": " + text;
    std::printf("  box: %s\n", s_last_box.c_str());
}

void SetInfoField(InfoField, const char*) {}
void SetPathText(const char*) {}
void EnableButton(Button, int) {}

static void Report(const char* name, bool passed, const std::string& detail = "") {
    if (!passed) ++s_failed_checks;
    std::printf("%s %s%s%s\n", passed ? "PASS" : "FAIL", name, detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
}

static bool SameBytes(const uint8_t* bytes, const char* text, size_t width) {
    char expected[32] = {};
    std::strncpy(expected, text, sizeof(expected) - 1);
    return std::memcmp(bytes, expected, width) == 0;
}

static DWORD MillisecondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<DWORD>((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
}

static void CheckOpenFailure() {
    const bool refused = OpenPort("COM8", "19200", kShortReadTimeoutMs) == 0;
    Report("open of a missing port fails", refused && g_loader.port == kNoPort);
}

// A read that nobody answers ends after n + T ms with nothing.
static void CheckReadTimeout(int count) {
    uint8_t bytes[32];
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const int got = ReadPort(bytes, count);
    const DWORD waited = MillisecondsSince(start);
    const DWORD bound = static_cast<DWORD>(count) + g_loader.read_timeout_ms;
    Report("unanswered read times out", got == 0 && waited + 2 >= bound &&
           waited <= bound + kTimingSlackMs,
           std::to_string(count) + " bytes: " + std::to_string(waited) + " ms, bound " +
               std::to_string(bound) + " ms");
}

static void CheckApplicationInfo() {
    if (!OpenPort(g_loader.port_name, "19200", kShortReadTimeoutMs)) {
        Report("open", false);
        return;
    }
    Report("open", g_loader.port != kNoPort);
    const int read = ReadApplicationInfo(g_loader.transmit, g_loader.receive);
    Report("application info", read == 1 &&
           SameBytes(g_loader.receive + kAppNameOffset, "TavSim App", kAppNameWidth) &&
           SameBytes(g_loader.receive + kAppFwOffset, "FW 3.4", kAppFwWidth));
    CheckReadTimeout(1);
    CheckReadTimeout(8);
    ClosePort();
    Report("close", g_loader.port == kNoPort);
}

static void CheckBootIdentity() {
    if (!OpenPort(g_loader.port_name, "19200", kShortReadTimeoutMs)) {
        Report("open for the identity", false);
        return;
    }
    RequestBootMode(g_loader.transmit, g_loader.receive);
    const uint8_t status = SyncBootloader(g_loader.transmit);
    Report("sync", status != 0 && status != kStatusCrcFailure, "status " + std::to_string(status));
    const int read = ReadBootIdentity(g_loader.receive);
    Report("boot identity", read == 1 &&
           SameBytes(g_loader.receive + kIdPlatformOffset, "TAV-SIM-PLATFORM", kIdPlatformWidth) &&
           SameBytes(g_loader.receive + kIdHwVersionOffset, "HW 1.0", kIdHwVersionWidth) &&
           SameBytes(g_loader.receive + kIdBootSwOffset, "BOOT 2.1", kIdBootSwWidth));
    // A second open of the held port replaces it rather than failing.
    Report("reopen of the held port", OpenPort(g_loader.port_name, "19200", kShortReadTimeoutMs) != 0);
    ClosePort();
}

// The whole DownLoad road: start sequence, then one transfer step per tick.
static void CheckDownload(const char* image_path) {
    Report("image loaded", LoadImageFromPath(image_path) == 1);
    StartDownload();
    Report("start sequence", g_loader.transfer_state == 1, s_last_status);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    int ticks = 0;
    while (g_loader.transfer_state != 0 && ticks < kMaxTransferTicks) {
        TransferStep();
        ++ticks;
    }
    Report("download", s_last_box == "BOOT info: Boot successful finished",
           s_last_box + " after " + std::to_string(ticks) + " ticks, " +
               std::to_string(MillisecondsSince(start)) + " ms");
    Report("port closed after the download", g_loader.port == kNoPort);
}

// A byte the application sends after its whole echo passes for the sync status
// (nothing is waited for after a whole echo); the statuses behind it are dropped,
// so the identity record that follows is exact.
static void CheckLateByte() {
    if (!OpenPort(g_loader.port_name, "19200", kShortReadTimeoutMs)) {
        Report("open", false);
        return;
    }
    RequestBootMode(g_loader.transmit, g_loader.receive);
    const uint8_t status = SyncBootloader(g_loader.transmit);
    Report("the late byte passes for the status", status == 0x3C, "status " + std::to_string(status));
    const bool read = ReadBootIdentity(g_loader.receive) == 1;
    Report("identity exact after it", read && std::memcmp(g_loader.receive, "TAV-SIM-PLATFORM", 16) == 0);
    ClosePort();
}

// Another program leaves the port with every kind of flow control on; the
// loader's own opening turns it all off, and a download goes through.
static void CheckFlowControlLeftOn(const char* image_path) {
    char device_path[64];
    std::snprintf(device_path, sizeof device_path, "\\\\.\\%s", g_loader.port_name);
    HANDLE other = CreateFileA(device_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    const bool left_on = other != INVALID_HANDLE_VALUE && GetCommState(other, &settings) &&
                         ((settings.fOutxCtsFlow = TRUE), (settings.fRtsControl = RTS_CONTROL_HANDSHAKE),
                          (settings.fOutX = TRUE), (settings.fInX = TRUE), SetCommState(other, &settings));
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    Report("flow control left on by another program", left_on);
    if (!OpenPort(g_loader.port_name, "19200", kShortReadTimeoutMs)) {
        Report("open", false);
        return;
    }
    settings = {};
    settings.DCBlength = sizeof settings;
    GetCommState(reinterpret_cast<HANDLE>(g_loader.port), &settings);
    Report("no flow control after the open", !settings.fOutxCtsFlow && !settings.fOutX && !settings.fInX &&
                                                 settings.fRtsControl != RTS_CONTROL_HANDSHAKE);
    ClosePort();
    CheckDownload(image_path);
}

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[2], "--flow-left") == 0)) {
        std::fprintf(stderr, "usage: serial_check PORT IMAGE_PATH | serial_check PORT --late-byte\n"
                             "       serial_check PORT --flow-left IMAGE_PATH\n");
        return 2;
    }
    ResetLoaderState();
    std::snprintf(g_loader.port_name, sizeof(g_loader.port_name), "%s", argv[1]);
    if (std::strcmp(argv[2], "--late-byte") == 0) {
        CheckLateByte();
    } else if (std::strcmp(argv[2], "--flow-left") == 0) {
        CheckFlowControlLeftOn(argv[3]);
    } else {
        CheckOpenFailure();
        CheckApplicationInfo();
        CheckDownload(argv[2]);
        CheckBootIdentity();
    }
    return s_failed_checks == 0 ? 0 : 1;
}
