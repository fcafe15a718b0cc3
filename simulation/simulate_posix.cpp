// tavboot simulate: the simulator's options on the command line, served as tavboot-sim serves them.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "console/console.h"
#include "sim/sim_options.h"
#include "sim/sim_runner.h"
#include "simulation/simulation.h"

namespace {

std::string FirstName(const SimOptionInfo& option) {
    const std::string names = option.names;
    return names.substr(0, names.find(','));
}

// A value the simulator would refuse is a usage error here already.
CLI::Validator Accepts(const SimOptionInfo& option) {
    return CLI::Validator(
        [&option](std::string& value) -> std::string {
            SimOptions scratch;
            return ApplySimOption(&scratch, option, value.c_str()) ? "" : std::string("must be ") + option.accepts;
        },
        "");
}

}  // namespace

void AddSimulate(CLI::App& app, SimulateOptions& options) {
    CLI::App* command = app.add_subcommand("simulate", "run simulated devices on pseudo-terminals until interrupted");
    for (size_t at = 0; at < kSimOptionCount; ++at) {
        const SimOptionInfo& option = kSimOptionTable[at];
        const std::string name = FirstName(option);
        if (!option.value) {
            command->add_flag_callback(option.names, [&options, name] { options.given.push_back(name); },
                                       option.help);
            continue;
        }
        std::string help = option.help;
        if (name == "--fault") help += ": " + std::string(SimFaultNames());
        const auto take = [&options, name](const std::string& value) {
            options.given.push_back(name);
            options.given.push_back(value);
        };
        command->add_option_function<std::string>(option.names, take, help)
            ->type_name(option.value)
            ->check(Accepts(option));
    }
}

int RunSimulate(const SimulateOptions& options) {
    std::vector<char*> words;
    for (const std::string& word : options.given) words.push_back(const_cast<char*>(word.c_str()));
    SimOptions simulator;
    if (!ParseSimArguments(int(words.size()), words.data(), &simulator)) return kExitUsage;
    return RunSimulator(simulator, "tavboot simulate") == 0 ? kExitOk : kExitFailed;
}
