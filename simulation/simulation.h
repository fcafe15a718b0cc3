// tavboot simulate and tavboot demo: the simulated device on the command line.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace CLI {
class App;
class Validator;
}

// The simulator's options as given, each name followed by its value (flags alone), in the
// order of the simulator's option table; every value was checked against the table.
struct SimulateOptions {
    std::vector<std::string> given;
};

// Accepts exactly count hexadecimal digits.
CLI::Validator HexDigits(size_t count);

void AddSimulate(CLI::App& app, SimulateOptions& options);
int RunSimulate(const SimulateOptions& options);
int RunDemo();
