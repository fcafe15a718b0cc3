// HEX files written by real toolchains (GNU objcopy, srec_cat) load byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "core/loader_state.h"
#include "image/image_file.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

namespace {

std::string WriteBinary(const std::vector<uint8_t>& bytes) {
    return WriteTempFile("fw.bin", std::string(bytes.begin(), bytes.end()));
}

void ExpectLoadedAt(const std::vector<uint8_t>& firmware, uint32_t base) {
    ASSERT_EQ(g_loader.image_loaded, 1) << (g_ui_calls.empty() ? "" : g_ui_calls.back().text);
    EXPECT_EQ(g_loader.image_length, int32_t(base + firmware.size()));
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), g_loader.image + base));
    EXPECT_EQ(g_loader.image[base - 1], 0);
}

class ToolchainHex : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLoaderState();
        ClearUiCalls();
    }
};

}  // namespace

TEST_F(ToolchainHex, ObjcopyOutputWithSegmentRecordsAndCrLf) {
    // Up to the largest image the device takes: its HEX text is far larger than the image.
    for (size_t size : {size_t(1000), size_t(60 * 1024), size_t(kMaxDownloadLength - 0x1000)}) {
        const std::vector<uint8_t> firmware = PatternImage(size, uint32_t(size));
        const std::string hex = TempDir() + "/objcopy.hex";
        const std::string command = "objcopy -I binary -O ihex --change-addresses 0x1000 " + WriteBinary(firmware) +
                                    " " + hex;
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(LoadImageFromPath(hex.c_str()), 1) << size;
        ExpectLoadedAt(firmware, 0x1000);
    }
}

TEST_F(ToolchainHex, SrecCatOutputWithLinearAddressAndLf) {
    for (size_t size : {1000u, 60u * 1024u}) {
        const std::vector<uint8_t> firmware = PatternImage(size, uint32_t(size) + 1);
        const std::string hex = TempDir() + "/srec.hex";
        const std::string command = "srec_cat " + WriteBinary(firmware) + " -binary -offset 0x1000 -o " + hex +
                                    " -intel -obs=32";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(LoadImageFromPath(hex.c_str()), 1) << size;
        ExpectLoadedAt(firmware, 0x1000);
    }
    // Past 64 KiB srec_cat writes further linear addresses; up to the largest image the device takes.
    for (size_t size : {size_t(100000), size_t(kMaxDownloadLength - 0x1000)}) {
        const std::vector<uint8_t> firmware = PatternImage(size, uint32_t(size) + 2);
        const std::string hex = TempDir() + "/srec-big.hex";
        const std::string command = "srec_cat " + WriteBinary(firmware) + " -binary -offset 0x1000 -o " + hex +
                                    " -intel -obs=32";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(LoadImageFromPath(hex.c_str()), 1) << size;
        ExpectLoadedAt(firmware, 0x1000);
    }
}

TEST_F(ToolchainHex, SrecCatOutputLinkedAtAnArmFlashAddress) {
    // Linked at 0x08001000 the values run 0x0800, 0x0801: the first is the image's base.
    const std::vector<uint8_t> firmware = PatternImage(70000, 3);
    const std::string hex = TempDir() + "/srec-arm.hex";
    const std::string command = "srec_cat " + WriteBinary(firmware) + " -binary -offset 0x08001000 -o " + hex +
                                " -intel -obs=32";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(LoadImageFromPath(hex.c_str()), 1);
    ExpectLoadedAt(firmware, 0x1000);
}
