// HW info and Application FW end to end: what each shows, and every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/serial.h"
#include "tests/boot_test_support.h"
#include "tests/recording_ui.h"

using Lines = std::vector<std::string>;

TEST_F(BootTest, HwInfoShowsTheIdentityWithoutAnImage) {
    StartDevice();
    SetStatusText("earlier");
    ClearUiCalls();
    QueryHwInfo();
    EXPECT_EQ(Transcript(), (Lines{"status: Bootloader CRC is correct"}));
    EXPECT_EQ(FieldCalls(), (Lines{"0=" + Blanks(20), "1=" + Blanks(20), "2=" + Blanks(20),
                                   "0=  TAV-SIM-PLATFORM", "1=  HW 1.0", "2=  BOOT 2.1"}));
    EXPECT_EQ(UiTexts(UiButton).size(), 2u);
    EXPECT_EQ(g_ui_calls.back().kind, UiButton);
    EXPECT_EQ(g_ui_calls.back().value, HwInfoButton);
    EXPECT_EQ(g_ui_calls.back().enabled, 1);
    EXPECT_EQ(g_loader.port, kNoPort);
    // Nothing that would return the device to its application or unlock it.
    EXPECT_TRUE(ReceivedAfter(0x81).empty());
}

TEST_F(BootTest, HwInfoFailures) {
    const struct {
        SimFault fault;
        Lines transcript;
    } cases[] = {
        {SimFaultSyncZero, {"box: BOOT info: Boot sequence error", "status: BOOT sequence unactive"}},
        {SimFaultSyncCrcFail,
         {"box: BOOT info: Bootloader CRC fail, data in device memory is corrupted", "status: Bootloader CRC fail"}},
        {SimFaultShortIdentity,
         {"status: Bootloader CRC is correct", "box: BOOT info: Boot constant strings error",
          "status: BOOT constant strings Error"}},
    };
    for (const auto& c : cases) {
        config.fault = c.fault;
        StartDevice();
        ClearUiCalls();
        QueryHwInfo();
        EXPECT_EQ(Transcript(), c.transcript);
        EXPECT_EQ(FieldCalls().size(), 3u) << "the fields keep their blanks";
        EXPECT_EQ(g_ui_calls.back().value, HwInfoButton);
        EXPECT_EQ(g_ui_calls.back().enabled, 1);
        EXPECT_EQ(g_loader.port, kNoPort);
        SimStop(&device);
        started = false;
    }
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "/dev/tavboot-no-such-port");
    ClearUiCalls();
    QueryHwInfo();
    EXPECT_EQ(Transcript(), (Lines{"box: COM port info: COM open error"}));
    EXPECT_TRUE(UiTexts(UiButton).empty());
}

TEST_F(BootTest, ApplicationFwShowsNameAndVersionAndLeavesTheStatus) {
    StartDevice();
    QueryApplicationFw();
    EXPECT_TRUE(Transcript().empty());
    EXPECT_EQ(FieldCalls(), (Lines{"3=" + Blanks(30), "4=" + Blanks(30), "3=  TavSim App", "4=  FW 3.4"}));
    EXPECT_TRUE(UiTexts(UiButton).empty());
    EXPECT_EQ(g_loader.port, kNoPort);
}

TEST_F(BootTest, ApplicationFwFailures) {
    for (SimFault fault : {SimFaultShortAppReply, SimFaultModbusException, SimFaultSilent}) {
        config.fault = fault;
        StartDevice();
        ClearUiCalls();
        QueryApplicationFw();
        EXPECT_EQ(Transcript(), (Lines{"box: BOOT info: Application info read error",
                                       "status: BOOT application info Error"}));
        EXPECT_EQ(FieldCalls().size(), 2u);
        EXPECT_EQ(g_loader.port, kNoPort);
        SimStop(&device);
        started = false;
    }
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "/dev/tavboot-no-such-port");
    ClearUiCalls();
    QueryApplicationFw();
    EXPECT_EQ(Transcript(), (Lines{"box: COM port info: COM open error"}));
}

TEST_F(BootTest, ApplicationNameStartingWithZeroShowsTwoBlanks) {
    std::memset(config.app_name, 0, sizeof config.app_name);
    StartDevice();
    QueryApplicationFw();
    EXPECT_EQ(FieldCalls().at(2), "3=  ");
}
