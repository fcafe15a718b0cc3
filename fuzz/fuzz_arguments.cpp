// Fuzz target: tavboot's command line; the bytes are the arguments, separated by zero bytes.
#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "sim/sim_options.h"
#include "fuzz/fuzz_support.h"

namespace {

enum : size_t { kMostArguments = 24 };

bool HexOfLength(const std::string& text, size_t count) {
    return text.size() == count && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Output goes nowhere: help texts and usage errors are not what is tested here.
struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = {"tavboot"};
    std::string word;
    for (size_t i = 0; i < size && words.size() < kMostArguments; ++i) {
        if (data[i] != '\0') {
            word += char(data[i]);
            continue;
        }
        words.push_back(word);
        word.clear();
    }
    if (!word.empty() && words.size() < kMostArguments) words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& each : words) argv.push_back(each.c_str());
    argv.push_back(nullptr);

    static NullBuffer nothing;
    std::ostream out(&nothing);
    Arguments args;
    int exit_status = -1;
    if (!ParseArguments(int(words.size()), argv.data(), &args, &exit_status, out, out)) {
        Require(exit_status == kExitOk || exit_status == kExitUsage, "help, version or a usage error");
        return 0;
    }
    Require(args.device.boot_value.empty() || HexOfLength(args.device.boot_value, 4), "boot value checked");
    Require(args.device.unlock_key.empty() || HexOfLength(args.device.unlock_key, 8), "unlock key checked");
    if (args.command == CommandSimulate) {
        // What the command line let through, the simulator's own parser takes as well.
        std::vector<char*> given;
        for (const std::string& each : args.simulate.given) given.push_back(const_cast<char*>(each.c_str()));
        SimOptions simulator;
        Require(ParseSimArguments(int(given.size()), given.data(), &simulator) == 1, "simulator options checked");
    }
    return 0;
}
