// tavboot simulate, demo and several ports at once need pseudo-terminals and processes of POSIX.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/sim_commands.h"

namespace {

int NotOnWindows(const char* what) {
    std::fprintf(stderr, "tavboot: %s is available on Linux only\n", what);
    return kExitUsage;
}

}  // namespace

void AddSimulate(CLI::App& app, SimulateOptions&) {
    app.add_subcommand("simulate", "run simulated devices (Linux only)")->allow_extras();
}

int RunSimulate(const SimulateOptions&) { return NotOnWindows("simulate"); }

int RunDemo() { return NotOnWindows("demo"); }

int RunStation(const DeviceOptions&, const std::vector<std::string>&, const std::string&, int) {
    return NotOnWindows("station");
}

int RunParallelDownloads(const DeviceOptions&, const std::vector<std::string>&, const std::string&, bool) {
    return NotOnWindows("downloading into several ports at once");
}
