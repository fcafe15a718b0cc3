// Typed outcomes: how a read on the line ended, and what an operation came to, over real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "core/outcome.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "tests/boot_test_support.h"
#include "tests/fault_support.h"
#include "tests/link_test_support.h"
#include "tests/process_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

namespace {

// A three-page HEX image: data messages 0-95, page 1 holds 32-63.
const std::vector<uint8_t> kImage = PatternImage(4096 + 2 * 1024, 23);

using LineEndTest = PtyLinkTest;

class OutcomeTest : public BootTest {
protected:
    void Download(SimFault fault, int arg) {
        config.fault = fault;
        config.fault_arg = arg;
        StartDevice();
        ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
        RunDownload();
    }
    // tavboot download with one retry allowed, on a fresh device showing fault; the
    // JSON result for the port, the log record and stderr.
    void CommandLine(SimFault fault, nlohmann::json* result, nlohmann::json* record, std::string* err) {
        if (started) SimStop(&device);
        config.fault = fault;
        config.fault_arg = 40;
        StartDevice();
        const std::string log = TempDir() + "/outcome-" + std::to_string(fault) + ".log";
        const std::string file = WriteTempFile("outcome-retry.hex", MakeIntelHex(kImage, kImageFirstOffset, "\r\n"));
        const ProcessResult run =
            RunTavboot({"download", "--retries", "1", "--json", "--log", log, "--port", device.slave_path, file});
        EXPECT_EQ(run.status, 1) << run.err;
        *result = nlohmann::json::parse(run.out, nullptr, false)["ports"][0];
        std::ifstream lines(log);
        std::string line;
        std::getline(lines, line);
        *record = nlohmann::json::parse(line, nullptr, false);
        *err = run.err;
    }
};

}  // namespace

TEST_F(LineEndTest, ReadPortTellsATimeOutFromAHangUpAndKeepsTheLineLostUntilReopened) {
    OpenLoaderPort(5000);
    uint8_t bytes[4];
    WriteAll(pty.master, {1, 2});
    EXPECT_EQ(ReadPort(bytes, 2), 2);
    EXPECT_EQ(g_loader.line_event, kLineOk);

    OpenLoaderPort(8);
    EXPECT_EQ(ReadPort(bytes, 4), 0);
    EXPECT_EQ(g_loader.line_event, kLineTimeOut);
    EXPECT_EQ(g_loader.system_error, 0);

    // The adapter pulled out: the read ends at once, not after its 5 s.
    OpenLoaderPort(5000);
    close(pty.master);
    pty.master = -1;
    const double started = NowMs();
    EXPECT_EQ(ReadPort(bytes, 4), 0);
    EXPECT_LT(NowMs() - started, 2500);
    EXPECT_EQ(g_loader.line_event, kLineHangUp);
    // Nothing later makes the lost line look good again; opening the port does.
    EXPECT_EQ(WritePort(bytes, 1), 0);
    ReadPort(bytes, 1);
    EXPECT_EQ(g_loader.line_event, kLineHangUp);
    OpenPort("/dev/tavboot-no-such-port", "19200", 8);
    EXPECT_EQ(g_loader.line_event, kLineOk);
    EXPECT_EQ(g_loader.system_error, ENOENT);
}

// The same box for both: only the outcome tells the pulled adapter (a second try
// cannot help) from the device's refusal of one message (it can).
TEST_F(OutcomeTest, AnAdapterPulledOutMidPageIsALostLineNotARefusedMessage) {
    Download(SimFaultHangupAtMessage, 40);
    EXPECT_EQ(Transcript().back(), "box: BOOT info: Boot communication error");
    EXPECT_EQ(g_loader.outcome, kOutcomeLineLost);
    EXPECT_EQ(g_loader.line_event, kLineHangUp);
    EXPECT_FALSE(OutcomeRetryable(g_loader.outcome));

    SimStop(&device);
    started = false;
    ClearUiCalls();
    Download(SimFaultBadDataAck, 40);
    EXPECT_EQ(Transcript().back(), "box: BOOT info: Boot communication error");
    EXPECT_EQ(g_loader.outcome, kOutcomeMessageFailed);
    EXPECT_EQ(g_loader.line_event, kLineOk);
    EXPECT_TRUE(OutcomeRetryable(g_loader.outcome));
}

// The same box again: the command line retries the refused message, not the pulled
// adapter, and its JSON and log name each.
TEST_F(OutcomeTest, TheCommandLineRetriesByOutcomeNotByTheBox) {
    nlohmann::json result, record;
    std::string err;
    CommandLine(SimFaultHangupAtMessage, &result, &record, &err);
    EXPECT_EQ(result["attempts"], 1);
    EXPECT_EQ(result["outcome"], "line_lost");
    EXPECT_EQ(result["message"], "BOOT info: Boot communication error");
    EXPECT_EQ(record["outcome"], "line_lost");
    EXPECT_EQ(err.find("retry:"), std::string::npos) << err;

    CommandLine(SimFaultBadDataAck, &result, &record, &err);
    EXPECT_EQ(result["attempts"], 2);
    EXPECT_EQ(result["outcome"], "message_failed");
    EXPECT_EQ(record["outcome"], "message_failed");
    EXPECT_NE(err.find("retry: attempt 2 of 2 after BOOT info: Boot communication error"), std::string::npos) << err;
}

TEST_F(OutcomeTest, EveryEndIsRecordedWithTheSystemsReason) {
    Download(SimFaultNone, 0);
    EXPECT_EQ(g_loader.outcome, kOutcomeOk);
    QueryHwInfo();
    EXPECT_EQ(g_loader.outcome, kOutcomeOk);

    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "%s", "/dev/tavboot-no-such-port");
    QueryApplicationFw();
    EXPECT_EQ(g_loader.outcome, kOutcomePortOpenFailed);
    EXPECT_EQ(g_loader.system_error, ENOENT);

    const std::string folder = TempDir() + "/outcome-folder.hex";
    mkdir(folder.c_str(), 0700);
    const struct {
        std::string path;
        int error;
    } files[] = {{TempDir() + "/outcome-missing.hex", ENOENT},
                 {folder, kFileIsDirectory},
                 {WriteTempFile("outcome-empty.hex", ""), kFileEmpty},
                 {"/dev/null", kFileNotRegular}};
    for (const auto& file : files) {
        EXPECT_EQ(LoadImageFromPath(file.path.c_str()), 0);
        EXPECT_EQ(g_loader.outcome, kOutcomeFileRefused) << file.path;
        EXPECT_EQ(g_loader.system_error, file.error) << file.path;
    }
    EXPECT_EQ(Transcript().back(), "box: File Error: File read error");
}

TEST(OutcomeKeys, EveryOutcomeHasItsOwnKeyAndIsFoundByIt) {
    std::set<std::string> keys;
    for (int i = 0; i < kOutcomeCount; ++i) {
        const Outcome outcome = static_cast<Outcome>(i);
        ASSERT_NE(OutcomeKey(outcome), nullptr);
        EXPECT_TRUE(keys.insert(OutcomeKey(outcome)).second) << OutcomeKey(outcome);
        EXPECT_EQ(OutcomeFromKey(OutcomeKey(outcome)), outcome);
    }
    EXPECT_EQ(OutcomeFromKey("time_out"), kOutcomeCount);
    EXPECT_STREQ(OutcomeKey(kOutcomeLineLost), "line_lost");
}
