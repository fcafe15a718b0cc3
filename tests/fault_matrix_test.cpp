// The fault matrix of docs/reliability.md: every fault the simulated device can show, against
// DownLoad (start and page transfer), HW info and Application FW, in the core and on the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "sim/sim_options.h"
#include "tests/boot_test_support.h"
#include "tests/fault_support.h"
#include "tests/process_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

using Lines = std::vector<std::string>;

namespace {

// Final boxes, as "caption: text"; an empty text means no box was shown.
const char kSuccess[] = "BOOT info: Boot successful finished";
const char kNoSync[] = "BOOT info: Boot sequence error";
const char kCrcFail[] = "BOOT info: Bootloader CRC fail, data in device memory is corrupted";
const char kNoIdentity[] = "BOOT info: Boot constant strings error";
const char kNoUnlock[] = "BOOT info: Boot safety keys error";
const char kNoErase[] = "BOOT info: BOOT device: FLASH erase error";
const char kMessageLost[] = "BOOT info: Boot communication error";
const char kPageLost[] = "BOOT info: Boot write to Flash error";
const char kNoAppInfo[] = "BOOT info: Application info read error";

// Final status texts.
const char kCrcCorrect[] = "Bootloader CRC is correct";
const char kSyncStatus[] = "BOOT sequence unactive";
const char kCrcStatus[] = "Bootloader CRC fail";
const char kIdentityStatus[] = "BOOT constant strings Error";
const char kUnlockStatus[] = "BOOT safety key Error";
const char kActived[] = " BOOTLoader actived ";
const char kFinished[] = "BOOT successful finished ;-) ";
const char kMessageStatus[] = "BOOT message failed";
const char kPageStatus[] = "BOOT Page failed";
const char kAppStatus[] = "BOOT application info Error";

// What the operator is left with after one operation.
struct Cell {
    const char* box;
    const char* status;  // "" when the operation set none
};

struct Row {
    const char* fault;  // as `tavboot simulate --fault` names it
    int arg;
    Cell download;
    bool reaches_transfer;  // the start succeeded and the failure (if any) is the transfer's
    Cell hwinfo;
    Cell appinfo;
    int erase_delay_ms;     // room for the loader to reopen before a hang-up at the erase
    int program_delay_ms;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.fault << " " << row.arg; }

const Cell kDownloadOk = {kSuccess, kFinished};
const Cell kHwOk = {"", kCrcCorrect};
const Cell kAppOk = {"", ""};

// A HEX image of three pages: messages 0-95.
const std::vector<uint8_t> kImage = PatternImage(4096 + 2 * 1024, 17);
const uint32_t kPages = 3;

// The longest a call may take by the protocol's time-outs, in ms, with T = 8 or 5000.
const double kStartBoundMs = 16 + 128 * 9 + 40 + 128 * 9 + 5001;
const double kTickBoundMs = 2 * 5001;
const double kHwInfoBoundMs = 16 + 128 * 9 + 40;
const double kAppInfoBoundMs = 37;

// Generous for shared cores and sanitizers: half as long again and a second more.
double Allowed(double bound_ms) { return bound_ms * 1.5 + 1000; }

// Runs call and checks that it kept within bound_ms and did not spin while waiting.
template <typename Call>
void Timed(const char* what, double bound_ms, Call call) {
    const Stopwatch watch;
    call();
    EXPECT_LE(watch.WallMs(), Allowed(bound_ms)) << what;
    EXPECT_LE(watch.CpuMs(), watch.WallMs() / 2 + 500) << what << " spins";
}

class FaultMatrix : public BootTest, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        BootTest::SetUp();
        ASSERT_TRUE(ParseSimFault(GetParam().fault, &config.fault)) << GetParam().fault;
        config.fault_arg = GetParam().arg;
        config.erase_delay_ms = GetParam().erase_delay_ms;
        config.program_delay_ms = GetParam().program_delay_ms;
    }
    // A fresh device for each operation: a hang-up leaves the last one dead.
    void FreshDevice() {
        if (started) SimStop(&device);
        started = false;
        StartDevice();
        ClearUiCalls();
    }
    void SetDelay(int delay_ms) {
        std::lock_guard<std::mutex> guard(device.lock);
        device.config.fault_arg = delay_ms;
    }
    // DownLoad and the ticks after it, each timed against its bound. The very
    // slow device answers the erase, the first message and the last page near
    // the 5000 ms limit and the messages between quickly, to keep the run short.
    void Download() {
        const bool slow = config.fault == SimFaultVerySlow;
        Timed("DownLoad", kStartBoundMs, [] { StartDownload(); });
        const uint32_t last_position = kImageFirstOffset + kPages * kPageSize - kMessageDataSize;
        for (int tick = 0; g_loader.transfer_state != 0 && tick < 10000; ++tick) {
            const bool last_message = g_loader.transfer_state == 2 && g_loader.send_position == last_position;
            if (slow && tick == 2) SetDelay(1);
            if (slow && last_message) SetDelay(GetParam().arg);
            Timed("tick", kTickBoundMs, [] { TransferStep(); });
        }
    }
    void ExpectLeftAlone(const Cell& expected, const char* operation) {
        EXPECT_EQ(LastOf(UiMessage), expected.box) << operation;
        EXPECT_EQ(LastOf(UiStatus), expected.status) << operation;
        EXPECT_EQ(g_loader.port, kNoPort) << operation << ": the port is closed";
        EXPECT_EQ(g_loader.transfer_state, 0) << operation;
        EXPECT_TRUE(ButtonsEndEnabled()) << operation;
    }
    // The same operation by tavboot on a fresh device: exit 0 for success, 1 for
    // a failure, and the same last box.
    void ExpectCommandLine(const std::vector<std::string>& args, const Cell& expected, bool success) {
        std::vector<std::string> full = args;
        full.insert(full.begin() + 1, {"--port", device.slave_path});
        const ProcessResult result = RunTavboot(full, 120);
        EXPECT_EQ(result.status, success ? 0 : 1) << args[0] << ": " << result.err;
        std::string last_box;
        for (const std::string& line : SplitLines(result.err))
            if (line.rfind("status: ", 0) != 0 && line.rfind("tavboot: ", 0) != 0) last_box = line;
        EXPECT_EQ(last_box, expected.box) << args[0];
    }
    // A query in the core, then by tavboot; it succeeds when it shows no box.
    void Query(const char* command, double bound_ms, void (*operation)(), const Cell& expected) {
        FreshDevice();
        Timed(command, bound_ms, operation);
        ExpectLeftAlone(expected, command);
        FreshDevice();
        ExpectCommandLine({command}, expected, expected.box[0] == '\0');
    }
};

}  // namespace

TEST_P(FaultMatrix, DownloadStartAndTransfer) {
    const Row& row = GetParam();
    FreshDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    Download();
    ExpectLeftAlone(row.download, "download");
    const Lines transcript = Transcript();
    const bool transferred =
        std::find(transcript.begin(), transcript.end(), "status: BOOT device: erase finished") != transcript.end();
    EXPECT_EQ(transferred, row.reaches_transfer);
    const bool success = LastOf(UiMessage) == kSuccess;
    if (success) {
        EXPECT_TRUE(FlashHoldsPages(kImage, kPages)) << "success only with the whole image in flash";
        std::lock_guard<std::mutex> guard(device.lock);
        EXPECT_EQ(device.messages_received, int(kPages * kMessagesPerPage));
    }

    FreshDevice();
    if (config.fault == SimFaultVerySlow) SetDelay(60);
    ExpectCommandLine({"download", WriteTempFile("fw.hex", MakeIntelHex(kImage, kImageFirstOffset, "\r\n"))},
                      row.download, success);
}

TEST_P(FaultMatrix, HwInfo) { Query("hwinfo", kHwInfoBoundMs, QueryHwInfo, GetParam().hwinfo); }

TEST_P(FaultMatrix, ApplicationFw) { Query("appinfo", kAppInfoBoundMs, QueryApplicationFw, GetParam().appinfo); }

// One row per fault, in the order of docs/reliability.md.
INSTANTIATE_TEST_SUITE_P(
    Faults, FaultMatrix,
    ::testing::Values(
        Row{"none", 0, kDownloadOk, true, kHwOk, kAppOk, 0, 0},
        Row{"silent", 0, {kNoSync, kSyncStatus}, false, {kNoSync, kSyncStatus}, {kNoAppInfo, kAppStatus}, 0, 0},
        Row{"sync-zero", 0, {kNoSync, kSyncStatus}, false, {kNoSync, kSyncStatus}, kAppOk, 0, 0},
        Row{"sync-crc-fail", 0, {kCrcFail, kCrcStatus}, false, {kCrcFail, kCrcStatus}, kAppOk, 0, 0},
        Row{"short-identity", 0, {kNoIdentity, kIdentityStatus}, false, {kNoIdentity, kIdentityStatus}, kAppOk, 0, 0},
        Row{"wrong-key", 0, {kNoUnlock, kUnlockStatus}, false, kHwOk, kAppOk, 0, 0},
        Row{"no-erase-ack", 0, {kNoErase, kActived}, false, kHwOk, kAppOk, 0, 0},
        Row{"bad-erase-ack", 0, {kNoErase, kActived}, false, kHwOk, kAppOk, 0, 0},
        Row{"bad-data-ack", 40, {kMessageLost, kMessageStatus}, true, kHwOk, kAppOk, 0, 0},
        Row{"no-data-ack", 0, {kMessageLost, kMessageStatus}, true, kHwOk, kAppOk, 0, 0},
        Row{"no-page-ack", 1, {kPageLost, kPageStatus}, true, kHwOk, kAppOk, 0, 0},
        Row{"bad-page-ack", 2, {kPageLost, kPageStatus}, true, kHwOk, kAppOk, 0, 0},
        Row{"late-extra-byte", 0, kDownloadOk, true, kHwOk, kAppOk, 0, 0},
        Row{"garbage-before-unlock-ack", 20, kDownloadOk, true, kHwOk, kAppOk, 0, 0},
        Row{"hangup-at-message", 70, {kMessageLost, kMessageStatus}, true, kHwOk, kAppOk, 0, 0},
        Row{"short-app-reply", 0, kDownloadOk, true, kHwOk, {kNoAppInfo, kAppStatus}, 0, 0},
        Row{"modbus-exception", 0, kDownloadOk, true, kHwOk, {kNoAppInfo, kAppStatus}, 0, 0},
        Row{"not-in-application", 0, kDownloadOk, true, kHwOk, {kNoAppInfo, kAppStatus}, 0, 0},
        Row{"flood", 0x42, {kNoUnlock, kUnlockStatus}, false, kHwOk, kAppOk, 0, 0},
        Row{"flood", 0x00, {kNoSync, kSyncStatus}, false, {kNoSync, kSyncStatus}, kAppOk, 0, 0},
        Row{"flood", 0xA0, {kCrcFail, kCrcStatus}, false, {kCrcFail, kCrcStatus}, kAppOk, 0, 0},
        Row{"flood", 0xAA, {kMessageLost, kMessageStatus}, true, kHwOk, kAppOk, 0, 0},
        Row{"garbage-echo", 0, {kNoIdentity, kIdentityStatus}, false, {kNoIdentity, kIdentityStatus},
            {kNoAppInfo, kAppStatus}, 0, 0},
        Row{"very-slow", 4900, kDownloadOk, true, kHwOk, kAppOk, 0, 0},
        Row{"hangup-in-phase", 0, {kNoSync, kSyncStatus}, false, {kNoSync, kSyncStatus}, kAppOk, 0, 0},
        Row{"hangup-in-phase", 1, {kNoSync, kSyncStatus}, false, {kNoSync, kSyncStatus}, kAppOk, 0, 0},
        Row{"hangup-in-phase", 2, {kNoIdentity, kIdentityStatus}, false, {kNoIdentity, kIdentityStatus}, kAppOk, 0,
            0},
        Row{"hangup-in-phase", 3, {kNoUnlock, kUnlockStatus}, false, kHwOk, kAppOk, 0, 0},
        Row{"hangup-in-phase", 4, {kNoErase, kActived}, false, kHwOk, kAppOk, 500, 0},
        Row{"hangup-in-phase", 5, {kPageLost, kPageStatus}, true, kHwOk, kAppOk, 0, 500},
        Row{"hangup-in-phase", 6, kDownloadOk, true, kHwOk, {kNoAppInfo, kAppStatus}, 0, 0}),
    [](const ::testing::TestParamInfo<Row>& instance) {
        return FaultCaseName(instance.param.fault, instance.param.arg);
    });
