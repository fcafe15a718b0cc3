// Simulator runner: one device on a pseudo-terminal, served on the calling thread until a signal.
#include "sim/sim_runner.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

// The one device a runner serves; the signal handler asks it to stop.
static SimDevice g_runner_device;

static void RequestStop(int) { g_runner_device.stop_requested = true; }

static void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Replaces a link left over from an earlier run, but nothing that is not a link.
static int MakeLink(const char* link_path, const char* target) {
    struct stat status;
    if (lstat(link_path, &status) == 0 && S_ISLNK(status.st_mode)) unlink(link_path);
    if (symlink(target, link_path) == 0) return 1;
    std::perror(link_path);
    return 0;
}

static int WriteFlash(const char* path, const std::vector<uint8_t>& flash) {
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::perror(path);
        return 0;
    }
    size_t written = std::fwrite(flash.data(), 1, flash.size(), file);
    int closed = std::fclose(file) == 0;
    if (written == flash.size() && closed) return 1;
    std::perror(path);
    return 0;
}

int RunSimulator(const SimConfig* config, const char* link_path, const char* flash_out_path) {
    SimDevice* device = &g_runner_device;
    if (!SimOpen(device, config)) {
        std::perror("pseudo-terminal");
        return 1;
    }
    if (link_path && !MakeLink(link_path, device->slave_path)) {
        SimStop(device);
        return 1;
    }
    // Printed once the link exists, so whoever reads the line can use either.
    std::printf("%s\n", device->slave_path);
    std::fflush(stdout);
    CatchStopSignals();
    SimRun(device);
    int result = 0;
    if (flash_out_path && !WriteFlash(flash_out_path, SimFlash(device))) result = 1;
    if (link_path) unlink(link_path);
    SimStop(device);
    return result;
}
