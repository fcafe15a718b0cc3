// tavboot simulate and demo need the pseudo-terminals of POSIX.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "console/console.h"
#include "simulation/simulation.h"

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
