// tavboot-sim: a simulated device on a pseudo-terminal, for trying the loader without hardware.
#include <cstdio>

#include "sim/sim_options.h"
#include "sim/sim_runner.h"

static void PrintUsage() {
    std::fprintf(stderr, "usage: tavboot-sim [options]\n%s  faults: %s\n", kSimOptionsHelp, SimFaultNames());
}

int main(int argc, char** argv) {
    SimConfig config;
    SimDefaultConfig(&config);
    const char* link_path;
    const char* flash_out_path;
    if (!ParseSimArguments(argc - 1, argv + 1, &config, &link_path, &flash_out_path)) {
        PrintUsage();
        return 2;
    }
    return RunSimulator(&config, link_path, flash_out_path);
}
