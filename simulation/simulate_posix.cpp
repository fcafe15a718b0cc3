// tavboot simulate: simulated devices on pseudo-terminals until interrupted.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "simulation/simulation.h"
#include "sim/sim_device.h"
#include "sim/sim_options.h"

namespace {

volatile sig_atomic_t g_stop_simulation = 0;

void OnStopSimulation(int) { g_stop_simulation = 1; }

void CopyText(char* field, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) field[i] = i < text.size() ? text[i] : '\0';
}

int BuildConfig(const SimulateOptions& options, SimConfig* config) {
    SimDefaultConfig(config);
    CopyText(config->platform, sizeof config->platform, options.platform);
    CopyText(config->hw_version, sizeof config->hw_version, options.hw_version);
    CopyText(config->boot_sw_version, sizeof config->boot_sw_version, options.boot_sw_version);
    CopyText(config->app_name, sizeof config->app_name, options.app_name);
    CopyText(config->fw_version, sizeof config->fw_version, options.fw_version);
    config->status_byte = uint8_t(std::strtoul(options.status.c_str(), nullptr, 16));
    if (!options.boot_value.empty()) config->boot_value = uint16_t(std::strtoul(options.boot_value.c_str(), nullptr, 16));
    if (!options.key.empty()) {
        const uint32_t key = uint32_t(std::strtoul(options.key.c_str(), nullptr, 16));
        for (int i = 0; i < 4; ++i) config->key[i] = uint8_t(key >> (24 - 8 * i));
    }
    config->erase_delay_ms = options.erase_delay_ms;
    config->program_delay_ms = options.program_delay_ms;
    config->paced = options.paced;
    config->adapter_latency_ms = options.adapter_latency_ms;
    if (!options.stale.empty() && !ParseSimStale(options.stale.c_str(), config)) {
        std::fprintf(stderr, "tavboot simulate: --stale takes up to %zu bytes as pairs of hex digits\n",
                     sizeof config->stale);
        return 0;
    }
    config->fault_arg = options.fault_arg;
    if (ParseSimFault(options.fault.c_str(), &config->fault)) return 1;
    std::fprintf(stderr, "tavboot simulate: unknown fault \"%s\"\n", options.fault.c_str());
    return 0;
}

std::string IndexedName(const std::string& base, const std::string& prefix, int index, int count) {
    if (count > 1 && !prefix.empty()) return prefix + std::to_string(index);
    if (base.empty() || count == 1) return base;
    return base + std::to_string(index);
}

int WriteFlash(SimDevice* device, const std::string& path) {
    const std::vector<uint8_t> flash = SimFlash(device);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
    return std::fclose(file) == 0 && written;
}

void WaitForStop() {
    struct sigaction action {};
    action.sa_handler = OnStopSimulation;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    while (!g_stop_simulation) pause();
}

// A link may replace only an earlier link: never a user's file, folder or device.
int RefuseLinkPath(const std::string& link) {
    struct stat info;
    if (link.empty() || lstat(link.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return 0;
    std::fprintf(stderr, "tavboot simulate: %s: exists and is not a symbolic link; it is left as it is\n",
                 link.c_str());
    return 1;
}

int MakeLink(const char* target, const std::string& link) {
    unlink(link.c_str());
    if (symlink(target, link.c_str()) == 0) return 1;
    std::fprintf(stderr, "tavboot simulate: cannot make the link %s: %s\n", link.c_str(), std::strerror(errno));
    return 0;
}

// Devices that were started must be stopped before they are destroyed.
int StopAll(std::vector<std::unique_ptr<SimDevice>>& devices) {
    for (auto& device : devices) SimStop(device.get());
    return kExitFailed;
}

std::string FaultNames() {
    std::string names;
    for (int fault = 0; SimFaultName(SimFault(fault)); ++fault)
        names += std::string(fault ? ", " : "") + SimFaultName(SimFault(fault));
    return names;
}

}  // namespace

void AddSimulate(CLI::App& app, SimulateOptions& options) {
    CLI::App* command = app.add_subcommand("simulate", "run simulated devices on pseudo-terminals until interrupted");
    command->add_option("--link", options.link, "make this symbolic link to the device's port");
    command->add_option("--count", options.count, "number of devices")->check(CLI::Range(1, 64));
    command->add_option("--link-prefix", options.link_prefix, "with --count: links PREFIX0, PREFIX1, ...");
    command->add_option("--flash-out", options.flash_out, "write the device's flash here when it ends "
                                                          "(with --count: FILE0, FILE1, ...)");
    command->add_flag("--paced", options.paced, "move bytes at 19200 baud, like a real line");
    command->add_option("--erase-delay", options.erase_delay_ms, "ms from the unlock to the erase ack")->check(CLI::Range(0, 600000));
    command->add_option("--program-delay", options.program_delay_ms, "ms before each page ack")->check(CLI::Range(0, 600000));
    command->add_option("--adapter-latency", options.adapter_latency_ms,
                        "answers pass a USB adapter with this latency timer (ms)")->check(CLI::Range(0, 1000));
    command->add_option("--stale", options.stale, "bytes waiting in the line before the first opener (hex)");
    command->add_option("--fault", options.fault, "fault to show: " + FaultNames());
    command->add_option("--fault-arg", options.fault_arg, "message, page or phase the fault applies to");
    command->add_option("--status", options.status, "answer to the sync byte (2 hex digits)")->check(HexDigits(2));
    command->add_option("--platform", options.platform, "HW platform of the identity (16 bytes)");
    command->add_option("--hw-version", options.hw_version, "HW version of the identity (8 bytes)");
    command->add_option("--boot-sw", options.boot_sw_version, "BOOT SW version of the identity (8 bytes)");
    command->add_option("--app-name", options.app_name, "application name (16 bytes)");
    command->add_option("--fw-version", options.fw_version, "application FW version (8 bytes)");
    command->add_option("--boot-value", options.boot_value, "enter-boot value the application accepts (4 hex digits)")
        ->check(HexDigits(4));
    // --unlock-key as download spells it; --key is the older spelling, kept.
    command->add_option("--unlock-key,--key", options.key, "unlock key the bootloader accepts (8 hex digits)")
        ->check(HexDigits(8));
}

int RunSimulate(const SimulateOptions& options) {
    SimConfig config;
    if (!BuildConfig(options, &config)) return kExitUsage;
    for (int i = 0; i < options.count; ++i)
        if (RefuseLinkPath(IndexedName(options.link, options.link_prefix, i, options.count))) return kExitFailed;
    std::vector<std::unique_ptr<SimDevice>> devices;
    for (int i = 0; i < options.count; ++i) {
        devices.push_back(std::make_unique<SimDevice>());
        if (!SimOpen(devices.back().get(), &config) || !SimStartThread(devices.back().get())) {
            std::fprintf(stderr, "tavboot simulate: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
            return StopAll(devices);
        }
        const std::string link = IndexedName(options.link, options.link_prefix, i, options.count);
        if (!link.empty() && !MakeLink(devices.back()->slave_path, link)) return StopAll(devices);
        std::printf("%s\n", devices.back()->slave_path);
    }
    std::fflush(stdout);
    WaitForStop();
    int status = kExitOk;
    for (int i = 0; i < options.count; ++i) {
        SimStop(devices[i].get());
        const std::string link = IndexedName(options.link, options.link_prefix, i, options.count);
        if (!link.empty()) unlink(link.c_str());
        const std::string flash = IndexedName(options.flash_out, "", i, options.count);
        if (!flash.empty() && !WriteFlash(devices[i].get(), flash)) status = kExitFailed;
    }
    return status;
}
