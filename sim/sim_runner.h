// Simulator runner: serves one simulated device until SIGINT or SIGTERM.
#pragma once
#include "sim/sim_device.h"

// Opens the device, links link_path to it (if given, replacing a stale link),
// prints its line's path on stdout (one line, flushed), serves until SIGINT or
// SIGTERM, then writes the flash (kSimFlashSize bytes) to flash_out_path (if
// given) and removes the link. Returns 0, or 1 when the device or the link
// could not be made or the flash not written.
int RunSimulator(const SimConfig* config, const char* link_path, const char* flash_out_path);
