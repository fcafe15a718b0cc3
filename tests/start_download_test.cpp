// DownLoad end to end against the simulated device: success path and every start failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "sim/sim_options.h"
#include "tests/boot_test_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

using Lines = std::vector<std::string>;

namespace {

const std::vector<uint8_t> kImage = PatternImage(4096 + 2 * 1024, 7);

int Count(const std::vector<uint8_t>& bytes, uint8_t value) {
    return int(std::count(bytes.begin(), bytes.end(), value));
}

}  // namespace

TEST_F(BootTest, HexDownloadShowsEveryStepAndFillsTheFlash) {
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    const int ticks = RunDownload();
    EXPECT_EQ(ticks, 1 + 33 * 3) << "one preparation tick, then 33 ticks a page";
    EXPECT_EQ(Transcript(), (Lines{"status: Bootloader CRC is correct", "status:  BOOTLoader actived ",
                                   "status: BOOT device: erase finished", "status:  BOOTLoader, Write page 0",
                                   "status:  BOOTLoader, Write page 1", "status:  BOOTLoader, Write page 2",
                                   "status: BOOT successful finished ;-) ",
                                   "box: BOOT info: Boot successful finished"}));
    EXPECT_EQ(g_ui_calls.back().value, IconInformation);
    EXPECT_EQ(FieldCalls(), (Lines{"0=" + Blanks(30), "1=" + Blanks(30), "2=" + Blanks(30),
                                   "0=  TAV-SIM-PLATFORM", "1=  HW 1.0", "2=  BOOT 2.1"}));
    EXPECT_TRUE(FlashHoldsPages(kImage, 3));
    EXPECT_EQ(g_loader.port, kNoPort);
    EXPECT_EQ(g_loader.transfer_state, 0);
    // The unlock carries the type letter of the loaded file, then the key.
    const std::vector<uint8_t> after_identity = ReceivedAfter(0x81);
    ASSERT_GE(after_identity.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(after_identity.begin(), after_identity.begin() + 5),
              (std::vector<uint8_t>{'h', g_loader.unlock_key[0], g_loader.unlock_key[1], g_loader.unlock_key[2],
                                    g_loader.unlock_key[3]}));
}

TEST_F(BootTest, ButtonsFollowTheTransfer) {
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.tvk"), 1);
    StartDownload();
    ASSERT_EQ(g_loader.transfer_state, 1);
    EXPECT_NE(g_loader.port, kNoPort);
    EXPECT_EQ(g_loader.read_timeout_ms, 5000u);
    Lines buttons;
    for (const UiCall& call : g_ui_calls)
        if (call.kind == UiButton) buttons.push_back(std::to_string(call.value) + ":" + std::to_string(call.enabled));
    EXPECT_EQ(buttons, (Lines{"0:0", "2:0", "1:0", "3:0"}));
    // During the transfer the other operations are refused and leave its port alone.
    ClearUiCalls();
    const intptr_t port = g_loader.port;
    QueryHwInfo();
    QueryApplicationFw();
    StartDownload();
    EXPECT_EQ(UiTexts(UiMessage).size(), 3u);
    EXPECT_EQ(g_ui_calls[0].value, IconWarning);
    EXPECT_EQ(g_loader.port, port);
    while (g_loader.transfer_state != 0) TransferStep();
    EXPECT_EQ(UiTexts(UiMessage).back(), "BOOT info: Boot successful finished");
    EXPECT_TRUE(FlashHoldsPages(kImage, 3));
    EXPECT_EQ(ReceivedAfter(0x81).at(0), 't');
}

TEST_F(BootTest, PageCountFollowsTheImageLength) {
    StartDevice();
    const struct {
        size_t length;
        uint32_t pages;
    } cases[] = {{4096, 1}, {5120, 2}, {5121, 2}, {6144, 3}, {259071, 249}};
    for (const auto& c : cases) {
        std::vector<uint8_t> image = PatternImage(c.length, uint32_t(c.length));
        // The largest image only fits the file buffer as a HEX file with gaps.
        if (c.length > 100000) std::fill(image.begin() + 8192, image.end() - 4000, 0);
        const std::string text = c.length > 100000 ? MakeIntelHex(image, kImageFirstOffset, "\n", true)
                                                   : MakeMemoryImage(image, "TAV-SIM-PLATFORM", "HW 1.0");
        ASSERT_EQ(LoadImageFromPath(WriteTempFile(c.length > 100000 ? "len.hex" : "len.tvk", text).c_str()), 1);
        ClearUiCalls();
        EXPECT_EQ(RunDownload(), int(1 + 33 * c.pages)) << c.length;
        EXPECT_EQ(UiTexts(UiMessage).back(), "BOOT info: Boot successful finished") << c.length;
        EXPECT_TRUE(FlashHoldsPages(image, c.pages)) << c.length;
        ClearUiCalls();
    }
}

TEST_F(BootTest, NothingIsOpenedWithoutADownloadableImage) {
    StartDevice();
    StartDownload();
    EXPECT_EQ(Transcript(), (Lines{"box: File info: File is not selected, select file please"}));
    EXPECT_EQ(g_ui_calls.back().value, IconWarning);
    EXPECT_EQ(FieldCalls().size(), 3u);
    for (size_t length : std::initializer_list<size_t>{100, 4095, 259072}) {
        ClearUiCalls();
        std::vector<uint8_t> image(length, 0);
        image.back() = 1;
        const std::string text = MakeIntelHex(image, 0, "\n", true);
        ASSERT_EQ(LoadImageFromPath(WriteTempFile("outside.hex", text).c_str()), 1);
        ASSERT_EQ(g_loader.image_length, int32_t(length));
        ClearUiCalls();
        StartDownload();
        ASSERT_EQ(UiTexts(UiMessage).size(), 1u);
        EXPECT_NE(UiTexts(UiMessage)[0].find("File info: Image length"), std::string::npos);
        EXPECT_EQ(g_ui_calls.back().value, IconError);
    }
    EXPECT_TRUE(SimReceived(&device).empty()) << "nothing may reach the device";
    EXPECT_EQ(g_loader.port, kNoPort);
}

TEST_F(BootTest, PortThatCannotBeOpened) {
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "/dev/tavboot-no-such-port");
    StartDownload();
    EXPECT_EQ(Transcript(), (Lines{"box: COM port info: COM open error"}));
    EXPECT_EQ(FieldCalls(), (Lines{"0=" + Blanks(30), "1=" + Blanks(30), "2=" + Blanks(30)}));
    EXPECT_TRUE(UiTexts(UiButton).empty()) << "DownLoad stays enabled";
}

struct StartFailure {
    SimFault fault;
    int fault_arg;
    Lines transcript;
    bool identity_shown;
};

void PrintTo(const StartFailure& failure, std::ostream* out) {
    *out << SimFaultName(failure.fault) << " " << failure.fault_arg;
}

class StartFailures : public BootTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailures, ReportBoxThenStatusAndReleaseThePort) {
    config.fault = GetParam().fault;
    config.fault_arg = GetParam().fault_arg;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.tvk"), 1);
    StartDownload();
    EXPECT_EQ(Transcript(), GetParam().transcript);
    EXPECT_EQ(g_loader.port, kNoPort);
    EXPECT_EQ(g_loader.transfer_state, 0);
    ASSERT_FALSE(g_ui_calls.empty());
    const UiCall& last_button = *std::find_if(g_ui_calls.rbegin(), g_ui_calls.rend(),
                                              [](const UiCall& call) { return call.kind == UiButton; });
    EXPECT_EQ(last_button.value, DownLoadButton);
    EXPECT_EQ(last_button.enabled, 1);
    EXPECT_EQ(FieldCalls().size(), GetParam().identity_shown ? 6u : 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Device, StartFailures,
    ::testing::Values(
        StartFailure{SimFaultSilent, 0, {"box: BOOT info: Boot sequence error", "status: BOOT sequence unactive"}, false},
        StartFailure{SimFaultSyncZero, 0, {"box: BOOT info: Boot sequence error", "status: BOOT sequence unactive"}, false},
        StartFailure{SimFaultSyncCrcFail, 0,
                     {"box: BOOT info: Bootloader CRC fail, data in device memory is corrupted",
                      "status: Bootloader CRC fail"}, false},
        StartFailure{SimFaultShortIdentity, 0,
                     {"status: Bootloader CRC is correct", "box: BOOT info: Boot constant strings error",
                      "status: BOOT constant strings Error"}, false},
        StartFailure{SimFaultWrongKey, 0,
                     {"status: Bootloader CRC is correct", "box: BOOT info: Boot safety keys error",
                      "status: BOOT safety key Error"}, true},
        StartFailure{SimFaultBadEraseAck, 0,
                     {"status: Bootloader CRC is correct", "status:  BOOTLoader actived ",
                      "box: BOOT info: BOOT device: FLASH erase error"}, true},
        StartFailure{SimFaultNoEraseAck, 0,
                     {"status: Bootloader CRC is correct", "status:  BOOTLoader actived ",
                      "box: BOOT info: BOOT device: FLASH erase error"}, true}),
    [](const ::testing::TestParamInfo<StartFailure>& instance) {
        return FaultCaseName(instance.param.fault, instance.param.fault_arg);
    });

TEST_F(BootTest, SilentDeviceGetsAllSyncAttempts) {
    config.fault = SimFaultSilent;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    StartDownload();
    const std::vector<uint8_t> received = SimReceived(&device);
    ASSERT_GE(received.size(), 8u);
    EXPECT_EQ(Count(std::vector<uint8_t>(received.begin() + 8, received.end()), 0x55), 128);
    EXPECT_EQ(received.size(), 8u + 128u) << "nothing after the failed sync";
}

TEST_F(BootTest, DeviceAlreadyInItsBootloaderStillProceeds) {
    config.fault = SimFaultNotInApplication;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    RunDownload();
    EXPECT_EQ(UiTexts(UiMessage), (Lines{"BOOT info: Boot successful finished"}));
    EXPECT_TRUE(FlashHoldsPages(kImage, 3));
}

TEST_F(BootTest, GarbageBeforeTheUnlockAckIsSkipped) {
    config.fault = SimFaultGarbageBeforeUnlockAck;
    config.fault_arg = 20;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    RunDownload();
    EXPECT_EQ(UiTexts(UiMessage), (Lines{"BOOT info: Boot successful finished"}));
}

TEST_F(BootTest, MemoryImageForOtherHardwareIsNeverUnlocked) {
    const struct {
        const char* platform;
        const char* version;
        Lines transcript;
    } cases[] = {
        {"OTHER-PLATFORM", "HW 1.0",
         {"status: Bootloader CRC is correct", "box: BOOT info: HW is uncompatible with selected SW image File",
          "status: HW is uncompatible with SW image File"}},
        {"TAV-SIM", "HW 2.0",
         {"status: Bootloader CRC is correct",
          "box: BOOT info: HW version is uncompatible with selected SW image File",
          "status: HW version is uncompatible with SW image File"}},
    };
    StartDevice();
    for (const auto& c : cases) {
        const std::string text = MakeMemoryImage(kImage, c.platform, c.version);
        ASSERT_EQ(LoadImageFromPath(WriteTempFile("other.tvk", text).c_str()), 1);
        ClearUiCalls();
        StartDownload();
        EXPECT_EQ(Transcript(), c.transcript);
        EXPECT_EQ(FieldCalls().size(), 6u) << "the identity stays shown";
        EXPECT_TRUE(ReceivedAfter(0x81).empty()) << "no unlock may follow a mismatch";
        EXPECT_EQ(g_loader.port, kNoPort);
        SimStop(&device);
        started = false;
        StartDevice();
    }
}

TEST_F(BootTest, ZeroByteInsideTheIdentityEndsTheShownText) {
    std::memcpy(config.platform, "ABCDE\0GHIJKLMNOP", 16);
    StartDevice();
    QueryHwInfo();
    EXPECT_EQ(FieldCalls().at(3), "0=  ABCDE");
}
