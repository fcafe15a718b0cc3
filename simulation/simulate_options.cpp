// Checks of option values that the simulator's options share with the device options of the command line.
#include <CLI/CLI.hpp>
#include <string>

#include "simulation/simulation.h"

CLI::Validator HexDigits(size_t count) {
    return CLI::Validator(
        [count](std::string& value) -> std::string {
            if (value.size() == count && value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
                return "";
            return "must be exactly " + std::to_string(count) + " hex digits";
        },
        std::to_string(count) + " hex digits");
}
