// Options of `tavboot simulate` as users give them: the unlock key under download's name, a slow
// USB adapter and input left in the line.
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

// The identity comes through exactly behind a 16 ms adapter with bytes already waiting.
TEST(CliOptionNames, SimulateModelsASlowAdapterAndStaleInput) {
    const std::string link = TempDir() + "/adapter-device";
    BackgroundProcess simulator = StartTavboot({"simulate", "--link", link, "--adapter-latency", "16",
                                                "--stale", "06AA55"});
    ASSERT_TRUE(WaitForStdout(&simulator, "\n", 30)) << simulator.err;
    for (int run = 0; run < 2; ++run) {
        const ProcessResult result = RunTavboot({"hwinfo", "--port", link, "--trace"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "HW platform: TAV-SIM-PLATFORM\nHW version: HW 1.0\nBOOT SW version: BOOT 2.1\n");
    }
    kill(simulator.pid, SIGTERM);
    EXPECT_EQ(FinishProcess(&simulator, 30), 0);
    EXPECT_EQ(RunTavboot({"simulate", "--stale", "6AA"}).status, 2) << "odd digits are refused";
}

// A sync fault limited to the first syncs: the fault a retry overcomes, as a real board's flaky contact.
TEST(CliOptionNames, SimulateLimitsTheSyncFaultToTheFirstSyncs) {
    const std::string link = TempDir() + "/recovering-device";
    BackgroundProcess simulator =
        StartTavboot({"simulate", "--link", link, "--fault", "sync-crc-fail", "--sync-faults", "1"});
    ASSERT_TRUE(WaitForStdout(&simulator, "\n", 30)) << simulator.err;
    EXPECT_EQ(RunTavboot({"hwinfo", "--port", link}).status, 1);
    EXPECT_EQ(RunTavboot({"hwinfo", "--port", link}).status, 0);
    kill(simulator.pid, SIGTERM);
    EXPECT_EQ(FinishProcess(&simulator, 30), 0);
}

}  // namespace
