// Simulated device options: fault names and the command-line options shared by the front ends.
#pragma once
#include "sim/sim_device.h"

// Fault names as written on command lines ("silent", "no-page-ack", ...).
int ParseSimFault(const char* name, SimFault* out);
// The name of a fault, or nullptr past the last one (for listing them all).
const char* SimFaultName(SimFault fault);
// Every fault name, separated by ", ", for help texts.
const char* SimFaultNames();

// Applies the options in argv[0..argc) to config (starting from its current
// values); --link and --flash-out go to link_path and flash_out_path (nullptr
// when absent). Prints what is wrong to stderr and returns 0 on a bad option.
int ParseSimArguments(int argc, char** argv, SimConfig* config, const char** link_path,
                      const char** flash_out_path);

// --stale: an even number of hexadecimal digits, the bytes waiting in the line
// before the first opener. Returns 0 when the text is not that or too long.
int ParseSimStale(const char* text, SimConfig* config);

// One line per option, for usage texts.
extern const char kSimOptionsHelp[];
