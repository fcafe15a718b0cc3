// Serial port on Win32: a COM device opened exclusively, 19200 8N1, read time-outs per opening.
#include <windows.h>

#include <cstdio>

#include "core/loader_state.h"
#include "link/port_names.h"
#include "link/serial.h"

enum : DWORD {
    kWriteTimeoutPerByteMs = 2,  // a byte takes about 0.5 ms at 19200 baud
    kWriteTimeoutMs = 1000,      // a line that does not drain by then never will
    kReopenPatienceMs = 1000,
    kReopenPauseMs = 20,
};

static HANDLE HeldPort() {
    return reinterpret_cast<HANDLE>(g_loader.port);
}

// Milliseconds on the performance counter: the serial time-outs run on kernel
// timers that may end a clock period (about 15.6 ms) early, and the tick count
// is just as coarse.
static ULONGLONG NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<ULONGLONG>(now.QuadPart) * 1000 / static_cast<ULONGLONG>(frequency.QuadPart);
}

// The read rule (n bytes or n + T ms, no gap limit) in the platform's terms, and
// a bounded write, so that a line that cannot drain fails the exchange instead of
// hanging the window.
static BOOL SetTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutMultiplier = multiplier;
    timeouts.ReadTotalTimeoutConstant = constant;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    return SetCommTimeouts(port, &timeouts);
}

static BOOL SetReadRule(HANDLE port) {
    return SetTimeouts(port, 0, 1, g_loader.read_timeout_ms);
}

// Applies "baud=<baud_text> parity=N data=8 stop=1", then everything the mode
// text leaves as the previous program set it: binary mode, no flow control of
// any kind, DTR and RTS on, no abort on error.
static BOOL SetLineFormat(HANDLE port, const char* baud_text) {
    DCB settings = {};
    settings.DCBlength = sizeof(settings);
    if (!GetCommState(port, &settings)) return FALSE;
    char mode[64];
    std::snprintf(mode, sizeof(mode), "baud=%s parity=N data=8 stop=1", baud_text);
    BuildCommDCBA(mode, &settings);
    settings.fBinary = TRUE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    settings.fAbortOnError = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    return SetCommState(port, &settings);
}

int OpenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms) {
    ClosePort();
    g_loader.line_event = kLineOk;
    char device_path[kPortNameCapacity + 8];
    Win32DevicePath(port_name, device_path, sizeof device_path);
    HANDLE port = CreateFileA(device_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    g_loader.port_open_error = port == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
    g_loader.system_error = g_loader.port_open_error;
    if (port == INVALID_HANDLE_VALUE) return 0;
    g_loader.port = reinterpret_cast<intptr_t>(port);
    g_loader.read_timeout_ms = read_timeout_ms;
    if (!SetReadRule(port) || !SetLineFormat(port, baud_text)) {
        // A half-configured port is of no use to any caller: let it go now.
        g_loader.port_open_error = g_loader.system_error = static_cast<int>(GetLastError());
        ClosePort();
        return 0;
    }
    return 1;
}

int ReopenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms) {
    const ULONGLONG give_up = NowMs() + kReopenPatienceMs;
    for (;;) {
        if (OpenPort(port_name, baud_text, read_timeout_ms)) return 1;
        // A busy or denied port may be one its previous holder is still releasing.
        const DWORD error = static_cast<DWORD>(g_loader.port_open_error);
        const bool passing = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
        if (!passing || NowMs() >= give_up) return 0;
        Sleep(kReopenPauseMs);
    }
}

void ClosePort() {
    if (g_loader.port == kNoPort) return;
    CloseHandle(HeldPort());
    g_loader.port = kNoPort;
}

int WritePort(const uint8_t* bytes, int32_t count) {
    if (g_loader.port == kNoPort || count <= 0) return 0;
    DWORD written = 0;
    if (!WriteFile(HeldPort(), bytes, static_cast<DWORD>(count), &written, nullptr))
        RecordLineEvent(kLineIoError, static_cast<int>(GetLastError()));
    else
        RecordLineEvent(written == static_cast<DWORD>(count) ? kLineOk : kLineTimeOut, 0);
    TraceLine('>', bytes, static_cast<int32_t>(written));
    return static_cast<int>(written);
}

// One ReadFile under the current time-outs; the bytes it brought (0 on failure,
// with the system's error in *error when asked for).
static DWORD ReadOnce(uint8_t* destination, DWORD count, DWORD* error = nullptr) {
    DWORD arrived = 0;
    if (!ReadFile(HeldPort(), destination, count, &arrived, nullptr)) {
        const DWORD reason = GetLastError();
        if (error) *error = reason != 0 ? reason : ERROR_READ_FAULT;  // a failure never reads as none
        return 0;
    }
    TraceLine('<', destination, static_cast<int32_t>(arrived));
    return arrived;
}

// A ReadFile that ends short before the window has really passed reads again
// for the rest of it, with the time-out set to what is left; one that fails
// (the adapter pulled out) ends the read at once with what arrived.
int ReadPort(uint8_t* destination, int32_t count) {
    if (g_loader.port == kNoPort || count <= 0) return 0;
    // One more millisecond: the clock reads whole milliseconds, rounded down.
    const ULONGLONG deadline = NowMs() + static_cast<ULONGLONG>(count) + g_loader.read_timeout_ms + 1;
    DWORD error = 0;
    DWORD got = ReadOnce(destination, static_cast<DWORD>(count), &error);
    bool rule_changed = false;
    while (got < static_cast<DWORD>(count) && error == 0) {
        const ULONGLONG now = NowMs();
        if (now >= deadline) break;
        rule_changed = true;
        if (!SetTimeouts(HeldPort(), 0, 0, static_cast<DWORD>(deadline - now))) {
            error = GetLastError();
            break;
        }
        got += ReadOnce(destination + got, static_cast<DWORD>(count) - got, &error);
    }
    if (rule_changed) SetReadRule(HeldPort());
    if (error != 0)
        RecordLineEvent(kLineIoError, static_cast<int>(error));
    else
        RecordLineEvent(got == static_cast<DWORD>(count) ? kLineOk : kLineTimeOut, 0);
    return static_cast<int>(got);
}

int ReadWaiting(uint8_t* destination, int32_t capacity, uint32_t wait_ms) {
    if (g_loader.port == kNoPort || capacity <= 0) return 0;
    const ULONGLONG deadline = NowMs() + wait_ms;
    DWORD got = 0;
    // MAXDWORD / MAXDWORD / constant: return at once with what is queued, or with
    // the first byte to arrive within the constant.
    for (ULONGLONG now = NowMs(); got == 0 && now < deadline; now = NowMs()) {
        if (!SetTimeouts(HeldPort(), MAXDWORD, MAXDWORD, static_cast<DWORD>(deadline - now))) break;
        got = ReadOnce(destination, static_cast<DWORD>(capacity));
    }
    SetReadRule(HeldPort());
    return static_cast<int>(got);
}

void ClearReceiveQueue() {
    if (g_loader.port != kNoPort) PurgeComm(HeldPort(), PURGE_RXCLEAR);
}

int InputWaiting() {
    if (g_loader.port == kNoPort) return 0;
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(HeldPort(), &errors, &status)) return 0;
    return status.cbInQue > 0;
}

// Windows opens the name itself (COMn through the device namespace).
void PortDevicePath(const char* port_name, char* path, size_t capacity) {
    std::snprintf(path, capacity, "%s", port_name);
}
