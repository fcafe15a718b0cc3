// The page transfer's failures and its state machine, against the simulated device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/serial.h"
#include "sim/sim_options.h"
#include "tests/boot_test_support.h"
#include "tests/link_test_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

using Lines = std::vector<std::string>;

namespace {

const std::vector<uint8_t> kImage = PatternImage(4096 + 3 * 1024, 11);

struct TransferFailure {
    SimFault fault;
    int fault_arg;
    const char* status;
    const char* box;
    int pages_written;  // page statuses shown before the failure
};

void PrintTo(const TransferFailure& failure, std::ostream* out) {
    *out << SimFaultName(failure.fault) << " " << failure.fault_arg;
}

class TransferFailures : public BootTest, public ::testing::WithParamInterface<TransferFailure> {};

}  // namespace

TEST_P(TransferFailures, StatusFirstThenBoxWithThePortAlreadyReleased) {
    config.fault = GetParam().fault;
    config.fault_arg = GetParam().fault_arg;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    RunDownload();
    Lines expected = {"status: Bootloader CRC is correct", "status:  BOOTLoader actived ",
                      "status: BOOT device: erase finished"};
    for (int page = 0; page < GetParam().pages_written; ++page)
        expected.push_back("status:  BOOTLoader, Write page " + std::to_string(page));
    expected.push_back(std::string("status: ") + GetParam().status);
    expected.push_back(std::string("box: BOOT info: ") + GetParam().box);
    EXPECT_EQ(Transcript(), expected);
    EXPECT_EQ(g_ui_calls.back().value, IconError);
    // Port closed, DownLoad enabled and the state idle before the box.
    const auto box = std::find_if(g_ui_calls.begin(), g_ui_calls.end(),
                                  [](const UiCall& call) { return call.kind == UiMessage; });
    const auto enable = std::find_if(g_ui_calls.begin(), g_ui_calls.end(), [](const UiCall& call) {
        return call.kind == UiButton && call.value == DownLoadButton && call.enabled;
    });
    EXPECT_LT(enable - g_ui_calls.begin(), box - g_ui_calls.begin());
    EXPECT_EQ(g_loader.port, kNoPort);
    EXPECT_EQ(g_loader.transfer_state, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Device, TransferFailures,
    ::testing::Values(
        TransferFailure{SimFaultBadDataAck, 40, "BOOT message failed", "Boot communication error", 1},
        TransferFailure{SimFaultNoDataAck, 0, "BOOT message failed", "Boot communication error", 0},
        TransferFailure{SimFaultHangupAtMessage, 70, "BOOT message failed", "Boot communication error", 2},
        TransferFailure{SimFaultBadPageAck, 2, "BOOT Page failed", "Boot write to Flash error", 2},
        TransferFailure{SimFaultNoPageAck, 1, "BOOT Page failed", "Boot write to Flash error", 1}),
    [](const ::testing::TestParamInfo<TransferFailure>& instance) {
        return FaultCaseName(instance.param.fault, instance.param.fault_arg);
    });

TEST_F(BootTest, IdleTicksDoNothingAndTheFirstTickOnlyPrepares) {
    StartDevice();
    for (uint8_t state : std::initializer_list<uint8_t>{0, 4, 200}) {
        g_loader.transfer_state = state;
        TransferStep();
        EXPECT_EQ(g_loader.transfer_state, state);
    }
    EXPECT_TRUE(g_ui_calls.empty());
    EXPECT_TRUE(SimReceived(&device).empty());
    g_loader.transfer_state = 0;

    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    StartDownload();
    ASSERT_EQ(g_loader.transfer_state, 1);
    const size_t before = SimReceived(&device).size();
    TransferStep();
    EXPECT_EQ(g_loader.transfer_state, 2);
    EXPECT_EQ(g_loader.pages_remaining, 4u);
    EXPECT_EQ(g_loader.send_position, 4096u);
    EXPECT_EQ(SimReceived(&device).size(), before) << "preparation sends nothing";
    TransferStep();
    EXPECT_EQ(SimReceived(&device).size(), before + 35);
    while (g_loader.transfer_state != 0) TransferStep();
}

TEST_F(BootTest, DataMessagesAreTaggedAndChecksummed) {
    StartDevice();
    std::vector<uint8_t> image = kImage;
    std::fill(image.begin() + 4096, image.begin() + 4096 + 32, 0xFF);
    ASSERT_EQ(LoadImage(image, "ff.hex"), 1);
    RunDownload();
    const std::vector<uint8_t> data = ReceivedAfter(0x81);
    ASSERT_GE(data.size(), 5u + 35u);
    const uint8_t* first = data.data() + 5;  // after the unlock message
    EXPECT_EQ(first[0], 0xAA);
    EXPECT_TRUE(std::all_of(first + 1, first + 33, [](uint8_t b) { return b == 0xFF; }));
    const uint16_t crc = ReferenceCrc(first, 33);
    EXPECT_EQ(first[33], crc & 0xFF);
    EXPECT_EQ(first[34], crc >> 8);
    EXPECT_TRUE(FlashHoldsPages(image, 4));
}
