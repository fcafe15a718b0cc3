// Real lines: answers held by a USB adapter, stale input, answers of an interrupted run, doubled
// acknowledgements, and the line trace, against the simulated device over pseudo-terminals.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/answer_delay.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "tests/boot_test_support.h"
#include "tests/fault_support.h"
#include "tests/link_test_support.h"
#include "tests/process_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

namespace {

// Three pages: the page count is ((length - 4096) >> 10) + 1.
const std::vector<uint8_t> kImage = PatternImage(4096 + 3 * 1024 - 32, 41);
const char kSuccess[] = "BOOT info: Boot successful finished";

class RealLineTest : public BootTest {
protected:
    void FreshDevice() {
        if (started) SimStop(&device);
        started = false;
        ClosePort();
        ClearUiCalls();
        StartDevice();
    }
    void SetStale(const std::vector<uint8_t>& bytes) {
        std::memcpy(config.stale, bytes.data(), bytes.size());
        config.stale_length = static_cast<int>(bytes.size());
    }
    // HW info shows exactly the simulated identity and ends well.
    void ExpectExactIdentity(const std::string& where) {
        ClearUiCalls();
        QueryHwInfo();
        EXPECT_EQ(LastOf(UiMessage), "") << where;
        EXPECT_EQ(LastOf(UiStatus), "Bootloader CRC is correct") << where;
        const std::vector<std::string> fields = FieldCalls();
        ASSERT_EQ(fields.size(), 6u) << where;
        EXPECT_EQ(fields[3], std::to_string(HwPlatformField) + "=  TAV-SIM-PLATFORM") << where;
        EXPECT_EQ(fields[4], std::to_string(HwVersionField) + "=  HW 1.0") << where;
        EXPECT_EQ(fields[5], std::to_string(BootSwVersionField) + "=  BOOT 2.1") << where;
    }
    void ExpectDownloadOk(const char* file_name, const std::string& where) {
        ASSERT_EQ(LoadImage(kImage, file_name), 1);
        RunDownload();
        EXPECT_EQ(LastOf(UiMessage), kSuccess) << where;
        EXPECT_TRUE(FlashHoldsPages(kImage, 3)) << where;
    }
};

TEST_F(RealLineTest, ThroughA16MsAdapterTheIdentityIsExactAndAMemoryImageFits) {
    config.adapter_latency_ms = 16;
    StartDevice();
    for (int run = 0; run < 4; ++run) ExpectExactIdentity("run " + std::to_string(run));
    FreshDevice();
    ExpectDownloadOk("fw.tvk", "memory image");
    FreshDevice();
    ExpectDownloadOk("fw.hex", "Intel HEX");
}

TEST_F(RealLineTest, BytesWaitingBeforeTheOperationChangeNothing) {
    // A status-like byte, an acknowledgement and a piece of an identity record.
    SetStale({0x5A, 0xAA, 'T', 'A', 'V', 0x00, 0x55});
    StartDevice();
    QueryApplicationFw();
    EXPECT_EQ(FieldCalls().back(), std::to_string(FwVersionField) + "=  FW 3.4");
    EXPECT_EQ(LastOf(UiMessage), "");
    FreshDevice();
    ExpectExactIdentity("hwinfo");
    FreshDevice();
    ExpectDownloadOk("fw.tvk", "download");
    config.adapter_latency_ms = 16;
    FreshDevice();
    ExpectExactIdentity("hwinfo through an adapter");
}

TEST_F(RealLineTest, AnswerToAnInterruptedDownloadDoesNotReachTheNextHwInfo) {
    for (int latency : {0, 16}) {
        config.adapter_latency_ms = latency;
        FreshDevice();
        ASSERT_EQ(LoadImage(kImage, "fw.tvk"), 1);
        StartDownload();
        ASSERT_EQ(g_loader.transfer_state, 1);
        for (int tick = 0; tick < 10; ++tick) TransferStep();
        // Ctrl-C right after a data message went out: its acknowledgement is left in the line.
        const uint8_t* bytes = g_loader.image + g_loader.send_position;
        g_loader.transmit[0] = kDataMessageTag;
        std::memcpy(g_loader.transmit + 1, bytes, kMessageDataSize);
        ASSERT_EQ(WritePort(g_loader.transmit, kDataMessageSize), kDataMessageSize);
        ClosePort();
        g_loader.transfer_state = 0;
        ExpectExactIdentity("latency " + std::to_string(latency));
    }
}

TEST_F(RealLineTest, SilentDeviceGetsTheRequestAnd128SyncBytesAfterWaitingForTheEcho) {
    config.fault = SimFaultSilent;
    StartDevice();
    const double start = NowMs();
    QueryHwInfo();
    const double took = NowMs() - start;
    EXPECT_EQ(LastOf(UiMessage), "BOOT info: Boot sequence error");
    std::vector<uint8_t> expected(kEnterBootFrameSize);
    BuildEnterBootFrame(g_loader.enter_boot_value, expected.data());
    expected.insert(expected.end(), kPollingLimit, kSyncByte);
    EXPECT_EQ(SimReceived(&device), expected);
    // The echo is waited for as long as any line can hold it.
    EXPECT_GE(took, 16 + kLongestHoldMs + kHoldMarginMs + 128 * 9);
    EXPECT_LT(took, 3 * (16 + kLongestHoldMs + kHoldMarginMs + 128 * 9) + 1000.0);
}

TEST_F(RealLineTest, OneAcknowledgementTooManyIsNeverASuccess) {
    // Message numbers count from 1; the image has 3 pages of 32 messages.
    const struct {
        int doubled_ack;
        SimFault fault;
        int fault_arg;
        const char* box;
    } cases[] = {
        {40, SimFaultBadPageAck, 2, "BOOT info: Boot communication error"},  // the refusal would go unread
        {40, SimFaultNone, 0, "BOOT info: Boot communication error"},
        {96, SimFaultNone, 0, "BOOT info: Boot write to Flash error"},  // after the last message
        {95, SimFaultNone, 0, "BOOT info: Boot communication error"},
    };
    for (const auto& c : cases) {
        config.doubled_ack = c.doubled_ack;
        config.fault = c.fault;
        config.fault_arg = c.fault_arg;
        FreshDevice();
        ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
        RunDownload();
        EXPECT_EQ(LastOf(UiMessage), c.box) << c.doubled_ack << " " << c.fault;
        EXPECT_EQ(g_loader.port, kNoPort);
    }
}

TEST_F(RealLineTest, QuietAfterTheLastPageCostsOnlyTheQuietWait) {
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    const double start = NowMs();
    RunDownload();
    EXPECT_EQ(LastOf(UiMessage), kSuccess);
    // Three pages at the simulator's speed take well under a second; the one
    // quiet wait is after the last page, for as long as the line may hold an answer.
    EXPECT_LT(NowMs() - start, kLongestHoldMs + kHoldMarginMs + 5000.0);
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimDefaultConfig(&config);
        config.adapter_latency_ms = 16;
    }
    void TearDown() override { SimStop(&device); }
    SimConfig config;
    SimDevice device;
};

TEST_F(TraceTest, CommandLineTracesEveryByteBothWaysAndStillReadsTheIdentity) {
    config.stale_length = 1;
    config.stale[0] = 0x77;
    ASSERT_EQ(SimOpen(&device, &config), 1);
    ASSERT_EQ(SimStartThread(&device), 1);
    const ProcessResult result = RunTavboot({"hwinfo", "--port", device.slave_path, "--trace"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "HW platform: TAV-SIM-PLATFORM\nHW version: HW 1.0\nBOOT SW version: BOOT 2.1\n");
    std::string sent, received;
    for (const std::string& line : SplitLines(result.err)) {
        if (line.rfind("trace: ", 0) != 0) continue;
        double ms = -1;
        char direction = 0;
        int used = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "trace: %lf %c%n", &ms, &direction, &used), 2) << line;
        EXPECT_GE(ms, 0.0) << line;
        (direction == '>' ? sent : received) += line.substr(size_t(used));
    }
    EXPECT_EQ(sent.rfind(" FF 06 00 1C", 0), 0u) << sent;
    EXPECT_NE(sent.find(" 55 81"), std::string::npos) << sent;
    EXPECT_EQ(received.find("77"), std::string::npos) << "stale input is dropped unread";
    EXPECT_NE(received.find(" 54 41 56 2D 53 49 4D"), std::string::npos) << received;  // "TAV-SIM"

    const ProcessResult quiet = RunTavboot({"appinfo", "--port", device.slave_path});
    EXPECT_EQ(quiet.err.find("trace:"), std::string::npos) << "no trace unless asked for";
}

}  // namespace
