// Serial port on Win32: a COM device opened exclusively, 19200 8N1, read time-outs per opening.
#include <windows.h>

#include <cstdio>

#include "core/loader_state.h"
#include "link/serial.h"

static HANDLE HeldPort() {
    return reinterpret_cast<HANDLE>(g_loader.port);
}

// The read rule (n bytes or n + T ms, no gap limit) in the platform's terms.
static BOOL SetReadTimeouts(HANDLE port, uint32_t read_timeout_ms) {
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = read_timeout_ms;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(port, &timeouts);
}

// Applies "baud=<baud_text> parity=N data=8 stop=1" over the port's current
// settings; every setting the mode text does not name keeps its value.
static BOOL SetLineFormat(HANDLE port, const char* baud_text) {
    DCB settings = {};
    settings.DCBlength = sizeof(settings);
    if (!GetCommState(port, &settings)) return FALSE;
    char mode[64];
    std::snprintf(mode, sizeof(mode), "baud=%s parity=N data=8 stop=1", baud_text);
    BuildCommDCBA(mode, &settings);
    return SetCommState(port, &settings);
}

int OpenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms) {
    ClosePort();
    HANDLE port = CreateFileA(port_name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        g_loader.port_open_error = static_cast<int>(GetLastError());
        return 0;
    }
    g_loader.port = reinterpret_cast<intptr_t>(port);
    g_loader.read_timeout_ms = read_timeout_ms;
    if (!SetReadTimeouts(port, read_timeout_ms) || !SetLineFormat(port, baud_text)) {
        // A half-configured port is of no use to any caller: let it go now.
        g_loader.port_open_error = static_cast<int>(GetLastError());
        ClosePort();
        return 0;
    }
    return 1;
}

void ClosePort() {
    if (g_loader.port == kNoPort) return;
    CloseHandle(HeldPort());
    g_loader.port = kNoPort;
}

int WritePort(const uint8_t* bytes, int32_t count) {
    if (g_loader.port == kNoPort || count <= 0) return 0;
    DWORD written = 0;
    WriteFile(HeldPort(), bytes, static_cast<DWORD>(count), &written, nullptr);
    return static_cast<int>(written);
}

int ReadPort(uint8_t* destination, int32_t count) {
    if (g_loader.port == kNoPort || count <= 0) return 0;
    DWORD arrived = 0;
    if (!ReadFile(HeldPort(), destination, static_cast<DWORD>(count), &arrived, nullptr)) return 0;
    return static_cast<int>(arrived);
}
