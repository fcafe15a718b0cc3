// tavboot simulate and tavboot demo: the simulated device on the command line.
#pragma once
#include <cstddef>
#include <string>

namespace CLI {
class App;
class Validator;
}

struct SimulateOptions {
    std::string link;          // symbolic link to the device's port
    std::string flash_out;     // flash written here when the device ends
    bool paced = false;        // bytes move at 19200 baud
    int erase_delay_ms = 50;
    int program_delay_ms = 5;
    int adapter_latency_ms = 0;  // > 0: answers pass a USB adapter with this latency timer
    std::string stale;           // hex bytes waiting in the line before the first opener
    std::string fault = "none";
    int fault_arg = 0;
    std::string status = "5A";
    std::string platform = "TAV-SIM-PLATFORM";
    std::string hw_version = "HW 1.0";
    std::string boot_sw_version = "BOOT 2.1";
    std::string app_name = "TavSim App";
    std::string fw_version = "FW 3.4";
    std::string boot_value;    // empty: the built-in value
    std::string key;           // empty: the built-in key
    int count = 1;             // several devices at once
    std::string link_prefix;   // with count: links PREFIX0, PREFIX1, ...
};

// Accepts exactly count hexadecimal digits.
CLI::Validator HexDigits(size_t count);

void AddSimulate(CLI::App& app, SimulateOptions& options);
int RunSimulate(const SimulateOptions& options);
int RunDemo();
