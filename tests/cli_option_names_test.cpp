// Option names that mean the same thing in every command: simulate takes the unlock key as download names it.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "tests/process_support.h"
#include "tests/test_support.h"

namespace {

const std::string kSample = std::string(TAVBOOT_SOURCE_DIR) + "/examples/sample.hex";

// A simulated device that accepts only the key 01020304, given under option_name.
BackgroundProcess StartDeviceWithKey(const char* option_name, const std::string& link) {
    BackgroundProcess simulator = StartTavboot(
        {"simulate", "--link", link, option_name, "01020304", "--erase-delay", "0", "--program-delay", "0"});
    EXPECT_TRUE(WaitForStdout(&simulator, "\n", 30)) << simulator.err;
    return simulator;
}

TEST(CliOptionNames, SimulateTakesTheUnlockKeyUnderDownloadsNameAndTheOlderOne) {
    for (const char* option_name : {"--unlock-key", "--key"}) {
        const std::string link = TempDir() + "/keyed-device";
        BackgroundProcess simulator = StartDeviceWithKey(option_name, link);
        EXPECT_EQ(RunTavboot({"download", "--port", link, kSample}).status, 1)
            << option_name << ": the built-in key must not open this device";
        const ProcessResult result = RunTavboot({"download", "--port", link, "--unlock-key", "01020304", kSample});
        EXPECT_EQ(result.status, 0) << option_name << ": " << result.err;
        kill(simulator.pid, SIGTERM);
        EXPECT_EQ(FinishProcess(&simulator, 30), 0) << option_name;
    }
}

}  // namespace
