// Fixture for the operations end to end: loader state, recording interface, simulated device.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_device.h"

class BootTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the device of config and points the loader's port name at it.
    void StartDevice();
    // Loads image as a file of the given name (suffix picks the decoder); 1 on success.
    int LoadImage(const std::vector<uint8_t>& image, const std::string& name);
    // DownLoad, then timer ticks until the transfer is idle; returns the ticks run.
    int RunDownload();
    // The device's flash holds image[4096, 4096 + 1024 * pages).
    bool FlashHoldsPages(const std::vector<uint8_t>& image, uint32_t pages);
    // Bytes the device received after the first occurrence of marker.
    std::vector<uint8_t> ReceivedAfter(uint8_t marker);
    SimConfig config;
    SimDevice device;
    bool started = false;
};

// The status texts and boxes shown, in order ("status: ..." / "box: caption: text").
std::vector<std::string> Transcript();
// The info field calls, as "field=text".
std::vector<std::string> FieldCalls();
std::string Blanks(int count);
// A parameterised case's name from a fault and its argument: "no_page_ack_1".
std::string FaultCaseName(const char* fault, int arg);
std::string FaultCaseName(SimFault fault, int arg);
