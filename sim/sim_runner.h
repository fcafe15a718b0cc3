// Simulator runner: serves the simulated devices of a command line until SIGINT or SIGTERM.
#pragma once
#include "sim/sim_options.h"

// Opens options.count devices, links each to its link (replacing a stale link, never
// anything else), prints each line's path on stdout (one line each, flushed), serves
// until SIGINT or SIGTERM, then writes each flash (kSimFlashSize bytes) to its file and
// removes the links. Messages start with program. Returns 0, or 1 when a device or a
// link could not be made or a flash not written.
int RunSimulator(const SimOptions& options, const char* program);
