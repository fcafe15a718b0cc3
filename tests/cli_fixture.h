// The fixture of the tests that run the tavboot binary against simulated devices.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "sim/sim_device.h"

inline const std::string kExamples = std::string(TAVBOOT_SOURCE_DIR) + "/examples/";

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLoaderState();
        SimDefaultConfig(&config);
        config.erase_delay_ms = 0;
        config.program_delay_ms = 0;
    }
    void TearDown() override {
        ClosePort();
        for (auto& device : devices) SimStop(device.get());
    }
    std::string StartDevice() {
        devices.push_back(std::make_unique<SimDevice>());
        EXPECT_EQ(SimOpen(devices.back().get(), &config), 1);
        EXPECT_EQ(SimStartThread(devices.back().get()), 1);
        return devices.back()->slave_path;
    }
    // The decoded image of file, as the loader itself decodes it.
    std::vector<uint8_t> Decoded(const std::string& file) {
        EXPECT_EQ(LoadImageFromPath(file.c_str()), 1);
        return std::vector<uint8_t>(g_loader.image, g_loader.image + kImageCapacity);
    }
    bool FlashHolds(SimDevice* device, const std::vector<uint8_t>& image, uint32_t pages) {
        const std::vector<uint8_t> flash = SimFlash(device);
        const size_t end = kImageFirstOffset + size_t(pages) * kPageSize;
        return std::equal(image.begin() + kImageFirstOffset, image.begin() + static_cast<std::ptrdiff_t>(end), flash.begin() + kImageFirstOffset);
    }
    SimConfig config;
    std::vector<std::unique_ptr<SimDevice>> devices;
};

