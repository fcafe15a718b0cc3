// Helpers for the device link tests.
#include "tests/link_test_support.h"

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"

int OpenRawPty(RawPty* pty) {
    struct termios raw = {};
    cfmakeraw(&raw);
    raw.c_cflag |= CS8 | CREAD | CLOCAL;
    if (openpty(&pty->master, &pty->slave, nullptr, &raw, nullptr) != 0) return 0;
    return ptsname_r(pty->master, pty->path, sizeof pty->path) == 0;
}

void CloseRawPty(RawPty* pty) {
    if (pty->master >= 0) close(pty->master);
    if (pty->slave >= 0) close(pty->slave);
    pty->master = pty->slave = -1;
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<size_t>(n);
    }
}

double NowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

std::vector<uint8_t> ReadUpTo(int fd, size_t count, int timeout_ms) {
    std::vector<uint8_t> bytes;
    double deadline = NowMs() + timeout_ms;
    while (bytes.size() < count) {
        int remaining = static_cast<int>(deadline - NowMs());
        struct pollfd entry = {fd, POLLIN, 0};
        if (remaining <= 0 || poll(&entry, 1, remaining) <= 0) break;
        uint8_t chunk[512];
        ssize_t n = read(fd, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

int WaitUntilQueued(int fd, int count, int timeout_ms) {
    const double deadline = NowMs() + timeout_ms;
    for (;;) {
        int queued = 0;
        if (ioctl(fd, FIONREAD, &queued) != 0) return 0;
        if (queued >= count) return 1;
        if (NowMs() > deadline) return 0;
        usleep(1000);
    }
}

uint16_t ReferenceCrc(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

void PtyLinkTest::SetUp() {
    ResetLoaderState();
    ASSERT_TRUE(OpenRawPty(&pty));
}

void PtyLinkTest::TearDown() {
    ClosePort();
    CloseRawPty(&pty);
}

void PtyLinkTest::OpenLoaderPort(uint32_t read_timeout_ms) {
    ASSERT_TRUE(OpenPort(pty.path, "19200", read_timeout_ms));
}

std::vector<uint8_t> PtyLinkTest::Sent(size_t count, int timeout_ms) {
    return ReadUpTo(pty.master, count, timeout_ms);
}

void SimLinkTest::SetUp() {
    ResetLoaderState();
    SimDefaultConfig(&config);
    config.erase_delay_ms = 0;
    config.program_delay_ms = 0;
}

void SimLinkTest::TearDown() {
    ClosePort();
    if (started) SimStop(&device);
}

void SimLinkTest::StartDevice(uint32_t read_timeout_ms) {
    ASSERT_TRUE(SimOpen(&device, &config));
    ASSERT_TRUE(SimStartThread(&device));
    started = true;
    ASSERT_TRUE(OpenPort(device.slave_path, "19200", read_timeout_ms));
}

int SimLinkTest::ReachDataPhase(uint32_t erase_timeout_ms) {
    RequestBootMode(g_loader.transmit, g_loader.receive);
    if (SyncBootloader(g_loader.transmit) == 0) return 0;
    if (!ReadBootIdentity(g_loader.receive)) return 0;
    if (!UnlockBootloader(g_loader.transmit, g_loader.receive, 't')) return 0;
    return Reopen(erase_timeout_ms) && ReadAcknowledge(g_loader.receive);
}

int SimLinkTest::Reopen(uint32_t read_timeout_ms) {
    ClosePort();
    return OpenPort(device.slave_path, "19200", read_timeout_ms);
}

int SimLinkTest::MessagesReceived() {
    std::lock_guard<std::mutex> guard(device.lock);
    return device.messages_received;
}

int SimLinkTest::SendMessages(const std::vector<uint8_t>& image, int first, int count) {
    for (int k = first; k < first + count; ++k) {
        if (!SendDataMessage(g_loader.transmit, g_loader.receive, image.data() + 32 * k)) return 0;
        if ((k + 1) % 32 == 0 && !ReadAcknowledge(g_loader.receive)) return 0;
    }
    return 1;
}
