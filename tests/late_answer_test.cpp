// Late answers: through an adapter that holds the device's answers 0 to 255 ms, HW info shows
// the exact identity or fails, downloads fit and write the image, and the line's delay is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/answer_delay.h"
#include "link/serial.h"
#include "tests/boot_test_support.h"
#include "tests/fault_support.h"
#include "tests/process_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

namespace {

// One page: the page count is ((length - 4096) >> 10) + 1.
const std::vector<uint8_t> kImage = PatternImage(4096 + 1024 - 32, 23);

class PhaseTest : public BootTest {
protected:
    // A fresh device, then part of a timer period, so that each run meets the
    // adapter's timer at another phase.
    void FreshDeviceAtPhase(int phase_ms) {
        if (started) SimStop(&device);
        started = false;
        ClosePort();
        ClearUiCalls();
        StartDevice();
        std::this_thread::sleep_for(std::chrono::milliseconds(phase_ms));
    }
};

class LateAnswerTest : public PhaseTest, public ::testing::WithParamInterface<int> {};

TEST_P(LateAnswerTest, HwInfoShowsTheExactIdentityOrFailsAtEveryTimerPhase) {
    const int latency = GetParam();
    config.adapter_latency_ms = latency;
    config.paced = 1;
    const int phases = 8;
    for (int phase = 0; phase < phases; ++phase) {
        const std::string where = "phase " + std::to_string(phase) + "/" + std::to_string(phases);
        FreshDeviceAtPhase(latency * phase / phases);
        QueryHwInfo();
        const std::vector<std::string> fields = FieldCalls();
        // Up to 100 ms every run succeeds; beyond, a run may fail but never shows another identity.
        if (latency <= 100 || LastOf(UiMessage).empty()) {
            EXPECT_EQ(LastOf(UiMessage), "") << where;
            ASSERT_EQ(fields.size(), 6u) << where;
            EXPECT_EQ(fields[3], std::to_string(HwPlatformField) + "=  TAV-SIM-PLATFORM") << where;
            EXPECT_EQ(fields[4], std::to_string(HwVersionField) + "=  HW 1.0") << where;
            EXPECT_EQ(fields[5], std::to_string(BootSwVersionField) + "=  BOOT 2.1") << where;
        } else {
            EXPECT_EQ(fields.size(), 3u) << where << ": only the blanking";
        }
    }
}

// Application FW through a 75 ms adapter gives up before the reply comes; the reply
// then reaches the HW info right after, ahead of its echo, and must not pass for it:
// the HW info still succeeds with the exact identity.
TEST_F(PhaseTest, ReplyOfTheOperationBeforeNeverPassesForTheEcho) {
    const int latency = 75;
    config.adapter_latency_ms = latency;
    config.paced = 1;
    for (int phase = 0; phase < 8; ++phase) {
        FreshDeviceAtPhase(latency * phase / 8);
        QueryApplicationFw();
        ClearUiCalls();
        QueryHwInfo();
        const std::vector<std::string> fields = FieldCalls();
        const std::string where = "phase " + std::to_string(phase);
        EXPECT_EQ(LastOf(UiMessage), "") << where;
        ASSERT_EQ(fields.size(), 6u) << where;
        EXPECT_EQ(fields[3], std::to_string(HwPlatformField) + "=  TAV-SIM-PLATFORM") << where;
        EXPECT_EQ(fields[5], std::to_string(BootSwVersionField) + "=  BOOT 2.1") << where;
    }
}

INSTANTIATE_TEST_SUITE_P(AdapterLatencies, LateAnswerTest, ::testing::Values(0, 16, 33, 75, 100, 255));

class LateDownloadTest : public BootTest {};

TEST_F(LateDownloadTest, MemoryImageThroughA75MsAdapterFitsTheDeviceAndIsWritten) {
    config.adapter_latency_ms = 75;
    config.paced = 1;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.tvk"), 1);
    RunDownload();
    EXPECT_EQ(LastOf(UiMessage), "BOOT info: Boot successful finished");
    EXPECT_TRUE(FlashHoldsPages(kImage, 1));
    // Each exchange waits for the timer: the data messages' answers come most of a period late.
    EXPECT_GE(g_loader.answer_delay_ms, 5u);
}

// The command line names a slow line after the result, and --json carries how late answers came.
TEST_F(LateDownloadTest, SlowLineIsNamedAfterTheResultAt16MsAndNotOnAStraightLine) {
    const std::string file = WriteTempFile("fw.hex", MakeIntelHex(kImage, 4096, "\r\n"));
    for (int latency : {16, 0}) {
        config.adapter_latency_ms = latency;
        config.paced = 1;
        if (started) SimStop(&device);
        started = false;
        StartDevice();
        const ProcessResult result = RunTavboot({"download", "--port", device.slave_path, "--json", file});
        ASSERT_EQ(result.status, 0) << result.err;
        const std::vector<std::string> lines = SplitLines(result.err);
        const size_t box = static_cast<size_t>(
            std::find(lines.begin(), lines.end(), "BOOT info: Boot successful finished") - lines.begin());
        ASSERT_LT(box, lines.size()) << result.err;
        size_t warning = lines.size();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind("tavboot: slow line: the device's answers came ", 0) == 0) warning = i;
        const auto out = nlohmann::json::parse(result.out);
        ASSERT_TRUE(out["ports"][0]["answer_delay_ms"].is_number()) << result.out;
        if (latency == 16) {
            ASSERT_EQ(warning, box + 1) << result.err;
            EXPECT_NE(lines[warning].find("low latency"), std::string::npos) << lines[warning];
            EXPECT_GE(out["ports"][0]["answer_delay_ms"], 5) << result.out;
        } else {
            EXPECT_EQ(warning, lines.size()) << result.err;
        }
    }
}

TEST_F(LateDownloadTest, EachOfSeveralPortsReportsHowLateItsAnswersCame) {
    const std::string file = WriteTempFile("fw.hex", MakeIntelHex(kImage, 4096, "\r\n"));
    config.adapter_latency_ms = 16;
    config.paced = 1;
    StartDevice();
    SimConfig straight = config;
    straight.adapter_latency_ms = 0;
    SimDevice other;
    ASSERT_EQ(SimOpen(&other, &straight), 1);
    ASSERT_EQ(SimStartThread(&other), 1);
    const ProcessResult result =
        RunTavboot({"download", "--port", device.slave_path, "--port", other.slave_path, "--json", file});
    SimStop(&other);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto ports = nlohmann::json::parse(result.out)["ports"];
    ASSERT_EQ(ports.size(), 2u) << result.out;
    EXPECT_GE(ports[0]["answer_delay_ms"], 5) << result.out;
    EXPECT_LT(ports[1]["answer_delay_ms"], 5) << result.out;
}

TEST(AnswerDelayTest, MedianAndTotalOfHowLateAnswersCame) {
    ResetLoaderState();
    ForgetAnswerDelays();
    const double byte_ms = 10 * 1000.0 / 19200;
    // A data message exchange (36 bytes on the wire) arriving 0.4, 3.5, 13.2, 13.9 and 300 ms late.
    for (double late : {13.2, 0.4, 300.0, 3.5, 13.9}) NoteAnswerDelay(1000, 1000 + 36 * byte_ms + late, 36);
    EXPECT_EQ(g_loader.answer_delay_ms, 13u);
    EXPECT_NEAR(g_loader.answer_delay_total_ms, 331.0, 0.01);
    // An answer faster than the wire (a clock read early) counts as not late.
    NoteAnswerDelay(1000, 1001, 36);
    NoteAnswerDelay(1000, 1001, 36);
    EXPECT_EQ(g_loader.answer_delay_ms, 3u);
    EXPECT_NEAR(g_loader.answer_delay_total_ms, 331.0, 0.01);
}

}  // namespace
