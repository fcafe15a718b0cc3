// Measures one data-message exchange with the simulated device, and the CPU a waiting read uses.
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "sim/sim_device.h"

static double NowUs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

static double ThreadCpuUs() {
    struct rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Start sequence up to the erase acknowledgement, on a port left open with T = 5000 ms.
static int ReachDataPhase(const char* path) {
    if (!OpenPort(path, "19200", kShortReadTimeoutMs)) return 0;
    RequestBootMode(g_loader.transmit, g_loader.receive);
    if (!SyncBootloader(g_loader.transmit) || !ReadBootIdentity(g_loader.receive) ||
        !UnlockBootloader(g_loader.transmit, g_loader.receive, 't')) {
        return 0;
    }
    ClosePort();
    return OpenPort(path, "19200", kLongReadTimeoutMs) && ReadAcknowledge(g_loader.receive);
}

// Times every SendDataMessage (message out, acknowledgement back); page
// acknowledgements are read but not timed. Returns 1 when the flash matches.
static int MeasureExchanges(int pages) {
    SimConfig config;
    SimDefaultConfig(&config);
    config.erase_delay_ms = 0;
    config.program_delay_ms = 0;
    SimDevice device;
    if (!SimOpen(&device, &config) || !SimStartThread(&device)) return 0;
    int messages = pages * kMessagesPerPage;
    std::vector<uint8_t> image(static_cast<size_t>(messages) * kMessageDataSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 131 + i / 977);
    std::vector<double> times;
    int ok = ReachDataPhase(device.slave_path);
    for (int k = 0; ok && k < messages; ++k) {
        double start = NowUs();
        ok = SendDataMessage(g_loader.transmit, g_loader.receive, image.data() + kMessageDataSize * k);
        times.push_back(NowUs() - start);
        if (ok && (k + 1) % kMessagesPerPage == 0) ok = ReadAcknowledge(g_loader.receive);
    }
    ClosePort();
    std::vector<uint8_t> flash = SimFlash(&device);
    SimStop(&device);
    if (!ok || !std::equal(image.begin(), image.end(), flash.begin() + kImageFirstOffset)) return 0;
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) sum += t;
    std::printf("data-message exchange over a pty, unpaced, %d messages: mean %.1f us, "
                "median %.1f us, p99 %.1f us, max %.1f us\n",
                messages, sum / double(times.size()), times[times.size() / 2], times[times.size() * 99 / 100],
                times.back());
    return 1;
}

// CPU time of reads that wait on a line where nothing arrives.
static int MeasureWaitingRead(uint32_t timeout_ms, int reads) {
    int master, slave;
    struct termios raw = {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return 0;
    char path[128];
    if (ptsname_r(master, path, sizeof path) != 0 || !OpenPort(path, "19200", timeout_ms)) return 0;
    double wall = NowUs();
    double cpu = ThreadCpuUs();
    uint8_t byte;
    for (int i = 0; i < reads; ++i) ReadPort(&byte, 1);
    cpu = ThreadCpuUs() - cpu;
    wall = NowUs() - wall;
    ClosePort();
    close(master);
    close(slave);
    std::printf("silent-line reads: %d x (1 + %u) ms took %.1f ms wall, %.3f ms CPU (%.4f%%)\n", reads,
                timeout_ms, wall / 1e3, cpu / 1e3, 100.0 * cpu / wall);
    return 1;
}

int main(int argc, char** argv) {
    int pages = argc > 1 ? std::atoi(argv[1]) : 64;
    ResetLoaderState();
    if (!MeasureExchanges(pages)) {
        std::fprintf(stderr, "exchange measurement failed\n");
        return 1;
    }
    if (!MeasureWaitingRead(1000, 3) || !MeasureWaitingRead(kShortReadTimeoutMs, 128)) {
        std::fprintf(stderr, "waiting-read measurement failed\n");
        return 1;
    }
    return 0;
}
