// Fixture for the operations end to end: loader state, recording interface, simulated device.
#include "tests/boot_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "sim/sim_options.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

void BootTest::SetUp() {
    ResetLoaderState();
    ClearUiCalls();
    SimDefaultConfig(&config);
    config.erase_delay_ms = 0;
    config.program_delay_ms = 0;
}

void BootTest::TearDown() {
    ClosePort();
    if (started) SimStop(&device);
}

void BootTest::StartDevice() {
    ASSERT_EQ(SimOpen(&device, &config), 1);
    ASSERT_EQ(SimStartThread(&device), 1);
    started = true;
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "%s", device.slave_path);
}

int BootTest::LoadImage(const std::vector<uint8_t>& image, const std::string& name) {
    const bool hex = name.size() >= 3 && name[name.size() - 3] == 'h';
    const std::string text = hex ? MakeIntelHex(image, kImageFirstOffset, "\r\n")
                                 : MakeMemoryImage(image, "TAV-SIM-PLATFORM", "HW 1.0");
    const int loaded = LoadImageFromPath(WriteTempFile(name, text).c_str());
    ClearUiCalls();
    return loaded;
}

int BootTest::RunDownload() {
    StartDownload();
    int ticks = 0;
    while (g_loader.transfer_state != 0 && ticks < 1000000) {
        TransferStep();
        ++ticks;
    }
    return ticks;
}

bool BootTest::FlashHoldsPages(const std::vector<uint8_t>& image, uint32_t pages) {
    const std::vector<uint8_t> flash = SimFlash(&device);
    for (uint32_t at = kImageFirstOffset; at < kImageFirstOffset + pages * kPageSize; ++at) {
        const uint8_t expected = at < image.size() ? image[at] : 0;  // the decoders clear the rest
        if (flash[at] != expected) return false;
    }
    return true;
}

std::vector<uint8_t> BootTest::ReceivedAfter(uint8_t marker) {
    const std::vector<uint8_t> received = SimReceived(&device);
    const auto at = std::find(received.begin(), received.end(), marker);
    if (at == received.end()) return {};
    return std::vector<uint8_t>(at + 1, received.end());
}

std::vector<std::string> Transcript() { return UiTranscript(); }

std::vector<std::string> FieldCalls() {
    std::vector<std::string> calls;
    for (const UiCall& call : g_ui_calls)
        if (call.kind == UiInfoField) calls.push_back(std::to_string(call.value) + "=" + call.text);
    return calls;
}

std::string Blanks(int count) { return std::string(size_t(count), ' '); }

std::string FaultCaseName(const char* fault, int arg) {
    std::string name = std::string(fault) + "_" + std::to_string(arg);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

std::string FaultCaseName(SimFault fault, int arg) { return FaultCaseName(SimFaultName(fault), arg); }
