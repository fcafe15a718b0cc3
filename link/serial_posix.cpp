// Serial port on POSIX terminals: exclusive raw 8N1 line, reads bounded by n + T ms.
#include "link/serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/loader_state.h"

enum : int { kReopenPatienceMs = 1000, kReopenPauseMs = 20 };

static int64_t MonotonicNs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// "COM1", "COM2", ... name the on-board serial ports in order, as on Windows; anything else is a path.
void PortDevicePath(const char* port_name, char* path, size_t capacity) {
    const bool com = std::strncmp(port_name, "COM", 3) == 0;
    const size_t digits = com ? std::strspn(port_name + 3, "0123456789") : 0;
    if (digits >= 1 && digits <= 4 && port_name[3] != '0' && port_name[3 + digits] == '\0') {
        std::snprintf(path, capacity, "/dev/ttyS%d", std::atoi(port_name + 3) - 1);
        return;
    }
    std::snprintf(path, capacity, "%s", port_name);
}

// Baud texts the line can run at; an unknown text leaves the port's speed as it was.
static int BaudSpeed(const char* baud_text, speed_t* speed) {
    static const struct { const char* text; speed_t speed; } kSpeeds[] = {
        {"1200", B1200},   {"2400", B2400},   {"4800", B4800},    {"9600", B9600},
        {"19200", B19200}, {"38400", B38400}, {"57600", B57600}, {"115200", B115200},
    };
    for (const auto& entry : kSpeeds) {
        if (std::strcmp(entry.text, baud_text) == 0) {
            *speed = entry.speed;
            return 1;
        }
    }
    return 0;
}

// The line's settings as the port's previous user left them, given back at close.
static struct termios g_previous_settings;
static int g_have_previous_settings = 0;

// Raw 8N1, no flow control of any kind (a previous user may have left CRTSCTS or
// XON/XOFF on), no line discipline processing; reads never block (VMIN = VTIME
// = 0) because ReadPort does its own waiting with poll.
static int ConfigureLine(int fd, const char* baud_text) {
    struct termios settings;
    if (tcgetattr(fd, &settings) != 0) return 0;
    g_previous_settings = settings;
    g_have_previous_settings = 1;
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    speed_t speed;
    if (BaudSpeed(baud_text, &speed)) {
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
    }
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// The line's serial flags as found, given back at close like its settings.
static int g_previous_serial_flags;
static int g_have_previous_serial_flags = 0;

// USB adapters otherwise hold received bytes back for several milliseconds,
// which would eat most of an 8 ms read time-out. Ports without the setting
// (pseudo-terminals) are used as they are.
static void AskLowLatency(int fd) {
    struct serial_struct serial;
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    g_previous_serial_flags = serial.flags;
    g_have_previous_serial_flags = 1;
    serial.flags |= static_cast<int>(ASYNC_LOW_LATENCY);
    ioctl(fd, TIOCSSERIAL, &serial);
}

static void GiveBackSerialFlags(int fd) {
    struct serial_struct serial;
    if (g_have_previous_serial_flags && ioctl(fd, TIOCGSERIAL, &serial) == 0 &&
        serial.flags != g_previous_serial_flags) {
        serial.flags = g_previous_serial_flags;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    g_have_previous_serial_flags = 0;
}

// The exclusive flag belongs to the terminal, not to this descriptor, and
// outlives it while someone else (a simulator, a getty) keeps the line open;
// so it is cleared, but only by the holder of the lock who set it.
static void ReleasePort(int fd) {
    GiveBackSerialFlags(fd);
    if (g_have_previous_settings) tcsetattr(fd, TCSANOW, &g_previous_settings);
    g_have_previous_settings = 0;
    ioctl(fd, TIOCNXCL);
    close(fd);
}

int OpenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms) {
    ClosePort();
    g_loader.line_event = kLineOk;
    char path[kPortNameCapacity + 16];
    PortDevicePath(port_name, path, sizeof path);
    // Non-blocking open: a line without carrier must not hang the open.
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    g_loader.port_open_error = fd < 0 ? errno : 0;
    g_loader.system_error = g_loader.port_open_error;
    if (fd < 0) return 0;
    // Exclusive access: the lock keeps out everyone who asks for it (another
    // tavboot, even as root); the exclusive flag keeps ordinary users from
    // opening the line at all.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        g_loader.port_open_error = g_loader.system_error = errno;
        close(fd);  // the line stays as its holder set it
        return 0;
    }
    // Held from here on, before the exclusive flag is set, so that an interrupt
    // at any moment finds the port to release.
    g_loader.port = fd;
    g_loader.read_timeout_ms = read_timeout_ms;
    int flags = fcntl(fd, F_GETFL);
    if (ioctl(fd, TIOCEXCL) != 0 || flags < 0 || !ConfigureLine(fd, baud_text) ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        g_loader.port_open_error = g_loader.system_error = errno;
        ClosePort();
        return 0;
    }
    AskLowLatency(fd);
    return 1;
}

// A busy or denied port may be one its previous holder is still releasing.
static int OpenErrorIsPassing() {
    const int error = g_loader.port_open_error;
    return error == EBUSY || error == EWOULDBLOCK || error == EACCES;
}

int ReopenPort(const char* port_name, const char* baud_text, uint32_t read_timeout_ms) {
    const int64_t give_up = MonotonicNs() + kReopenPatienceMs * 1000000LL;
    for (;;) {
        if (OpenPort(port_name, baud_text, read_timeout_ms)) return 1;
        if (!OpenErrorIsPassing() || MonotonicNs() >= give_up) return 0;
        usleep(kReopenPauseMs * 1000);
    }
}

void ClosePort() {
    if (g_loader.port == kNoPort) return;
    ReleasePort(static_cast<int>(g_loader.port));
    g_loader.port = kNoPort;
}

// After a read or write that failed: a line that reports a hang-up went away
// (a pulled adapter, a closed pseudo-terminal); anything else is an I/O error.
static void RecordLineFailure(int fd, int error) {
    struct pollfd entry = {fd, POLLIN, 0};
    const bool hung_up = poll(&entry, 1, 0) > 0 && (entry.revents & POLLHUP) != 0;
    RecordLineEvent(hung_up ? kLineHangUp : kLineIoError, error);
}

int WritePort(const uint8_t* bytes, int32_t count) {
    if (g_loader.port == kNoPort) return 0;
    int fd = static_cast<int>(g_loader.port);
    int32_t written = 0;
    while (written < count) {
        ssize_t n = write(fd, bytes + written, static_cast<size_t>(count - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            RecordLineFailure(fd, n < 0 ? errno : 0);
            return written;
        }
        TraceLine('>', bytes + written, static_cast<int32_t>(n));
        written += static_cast<int32_t>(n);
    }
    RecordLineEvent(kLineOk, 0);
    return written;
}

// Waits until the port has input or the deadline passes. Returns 1 when there is
// something to read (bytes, or a hang-up that read() will report), 0 at the deadline.
static int WaitForInput(int fd, int64_t deadline_ns) {
    for (;;) {
        int64_t remaining_ns = deadline_ns - MonotonicNs();
        if (remaining_ns <= 0) return 0;
        // Rounded up, so the wait never ends before the deadline; capped so a huge
        // time-out cannot overflow poll's argument (the loop waits again).
        int64_t wait_ms = std::min<int64_t>((remaining_ns + 999999) / 1000000, 3600000);
        struct pollfd entry = {fd, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(wait_ms));
        if (ready > 0) return 1;
        if (ready < 0 && errno != EINTR) return 1;
    }
}

int ReadPort(uint8_t* destination, int32_t count) {
    if (g_loader.port == kNoPort || count <= 0) return 0;
    int fd = static_cast<int>(g_loader.port);
    int64_t deadline =
        MonotonicNs() + (count + static_cast<int64_t>(g_loader.read_timeout_ms)) * 1000000;
    int32_t got = 0;
    while (got < count && WaitForInput(fd, deadline)) {
        ssize_t n = read(fd, destination + got, static_cast<size_t>(count - got));
        if (n < 0 && errno == EINTR) continue;
        // Poll said readable, so nothing here means hang-up or error: stop at once.
        if (n == 0) RecordLineEvent(kLineHangUp, 0);
        if (n < 0) RecordLineFailure(fd, errno);
        if (n <= 0) return got;
        TraceLine('<', destination + got, static_cast<int32_t>(n));
        got += static_cast<int32_t>(n);
    }
    RecordLineEvent(got == count ? kLineOk : kLineTimeOut, 0);
    return got;
}

int ReadWaiting(uint8_t* destination, int32_t capacity, uint32_t wait_ms) {
    if (g_loader.port == kNoPort || capacity <= 0) return 0;
    int fd = static_cast<int>(g_loader.port);
    if (!WaitForInput(fd, MonotonicNs() + static_cast<int64_t>(wait_ms) * 1000000)) return 0;
    ssize_t n;
    do {
        n = read(fd, destination, static_cast<size_t>(capacity));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    TraceLine('<', destination, static_cast<int32_t>(n));
    return static_cast<int>(n);
}

void ClearReceiveQueue() {
    if (g_loader.port != kNoPort) tcflush(static_cast<int>(g_loader.port), TCIFLUSH);
}

int InputWaiting() {
    int waiting = 0;
    if (g_loader.port == kNoPort || ioctl(static_cast<int>(g_loader.port), FIONREAD, &waiting) != 0) return 0;
    return waiting > 0;
}
