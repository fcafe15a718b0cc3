// tavboot-sim: simulated devices on pseudo-terminals, for trying the loader without hardware.
#include <cstdio>

#include "sim/sim_options.h"
#include "sim/sim_runner.h"

int main(int argc, char** argv) {
    SimOptions options;
    if (!ParseSimArguments(argc - 1, argv + 1, &options)) {
        std::fprintf(stderr, "usage: tavboot-sim [options]\n%s  faults: %s\n", SimOptionsHelp().c_str(),
                     SimFaultNames());
        return 2;
    }
    return RunSimulator(options, "tavboot-sim");
}
