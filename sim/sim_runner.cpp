// Simulator runner: devices on pseudo-terminals, each served on a thread of its own until a signal.
#include "sim/sim_runner.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop_requested = 0;

void RequestStop(int) { g_stop_requested = 1; }

// The stop signals are held back from here on (device threads inherit that), so that one
// arriving before the wait still ends it.
void HoldStopSignals(sigset_t* before) {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigprocmask(SIG_BLOCK, &stops, before);
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void WaitForStop(const sigset_t& before) {
    while (!g_stop_requested) sigsuspend(&before);
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

// Device index's name from base: base itself for one device, else the prefix or base numbered.
std::string IndexedName(const std::string& base, const std::string& prefix, int index, int count) {
    if (count > 1 && !prefix.empty()) return prefix + std::to_string(index);
    if (base.empty() || count == 1) return base;
    return base + std::to_string(index);
}

// A link may replace only an earlier link: never a user's file, folder or device.
int RefuseLinkPath(const std::string& link, const char* program) {
    struct stat info;
    if (link.empty() || lstat(link.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return 0;
    std::fprintf(stderr, "%s: %s: exists and is not a symbolic link; it is left as it is\n", program, link.c_str());
    return 1;
}

int MakeLink(const char* target, const std::string& link, const char* program) {
    unlink(link.c_str());
    if (symlink(target, link.c_str()) == 0) return 1;
    std::fprintf(stderr, "%s: cannot make the link %s: %s\n", program, link.c_str(), std::strerror(errno));
    return 0;
}

int WriteFlash(SimDevice* device, const std::string& path, const char* program) {
    const std::vector<uint8_t> flash = SimFlash(device);
    FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
    if ((file && std::fclose(file) == 0) && written) return 1;
    std::fprintf(stderr, "%s: cannot write the flash to %s: %s\n", program, path.c_str(), std::strerror(errno));
    return 0;
}

// Devices that were started must be stopped before they are destroyed.
int StopAll(std::vector<std::unique_ptr<SimDevice>>& devices) {
    for (auto& device : devices) SimStop(device.get());
    return 1;
}

}  // namespace

int RunSimulator(const SimOptions& options, const char* program) {
    for (int i = 0; i < options.count; ++i)
        if (RefuseLinkPath(IndexedName(options.link, options.link_prefix, i, options.count), program)) return 1;
    sigset_t before;
    HoldStopSignals(&before);
    std::vector<std::unique_ptr<SimDevice>> devices;
    for (int i = 0; i < options.count; ++i) {
        devices.push_back(std::make_unique<SimDevice>());
        if (!SimOpen(devices.back().get(), &options.config) || !SimStartThread(devices.back().get())) {
            std::fprintf(stderr, "%s: cannot open a pseudo-terminal: %s\n", program, std::strerror(errno));
            return StopAll(devices);
        }
        const std::string link = IndexedName(options.link, options.link_prefix, i, options.count);
        if (!link.empty() && !MakeLink(devices.back()->slave_path, link, program)) return StopAll(devices);
        // Printed once the link exists, so whoever reads the line can use either.
        std::printf("%s\n", devices.back()->slave_path);
        std::fflush(stdout);
    }
    WaitForStop(before);
    int status = 0;
    for (int i = 0; i < options.count; ++i) {
        SimStop(devices[size_t(i)].get());
        const std::string link = IndexedName(options.link, options.link_prefix, i, options.count);
        if (!link.empty()) unlink(link.c_str());
        const std::string flash = IndexedName(options.flash_out, "", i, options.count);
        if (!flash.empty() && !WriteFlash(devices[size_t(i)].get(), flash, program)) status = 1;
    }
    return status;
}
