// The simulator's command line, one table for tavboot-sim and tavboot simulate: fault names, the
// options, what each accepts, and the record they fill.
#pragma once
#include <cstddef>
#include <string>

#include "sim/sim_device.h"

// Fault names as written on command lines ("silent", "no-page-ack", ...).
int ParseSimFault(const char* name, SimFault* out);
// The name of a fault, or nullptr past the last one (for listing them all).
const char* SimFaultName(SimFault fault);
// Every fault name, separated by ", ", for help texts.
const char* SimFaultNames();

// What a simulator's command line asks for: the devices and how they are served.
struct SimOptions {
    SimConfig config;
    std::string link;         // symbolic link to the device's line; with count > 1: LINK0, LINK1, ...
    std::string link_prefix;  // with count > 1: links PREFIX0, PREFIX1, ... (before link)
    std::string flash_out;    // flash written here when the device ends; with count > 1: FILE0, ...
    int count = 1;            // devices served at once
    SimOptions() { SimDefaultConfig(&config); }
};

// One option of the table. names: "--unlock-key,--key", the first as help shows it.
struct SimOptionInfo {
    const char* names;
    const char* value;    // what the value is ("MS", "HEX8"), nullptr for a flag
    const char* accepts;  // the values accepted, for a bad value's message
    const char* help;
};

// Every option, in the order help lists them.
extern const SimOptionInfo kSimOptionTable[];
extern const size_t kSimOptionCount;

// Applies option (an entry of the table) with value (nullptr for a flag) to options.
// Returns 0 when the value is not one the option accepts.
int ApplySimOption(SimOptions* options, const SimOptionInfo& option, const char* value);

// Applies the options in argv[0..argc) to options (starting from its current values).
// Prints what is wrong to stderr and returns 0 on an unknown option or a bad value.
int ParseSimArguments(int argc, char** argv, SimOptions* options);

// One line per option, for usage texts.
std::string SimOptionsHelp();
