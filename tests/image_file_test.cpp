// Loading image files by path: type letter, refusals and what they leave loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/loader_state.h"
#include "image/compatibility.h"
#include "image/image_file.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

namespace {

class ImageFile : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLoaderState();
        ClearUiCalls();
    }
    std::string hex_ = MakeIntelHex(PatternImage(6000, 1), 0x1000, "\r\n");
};

std::string LastBox() {
    const auto boxes = UiTexts(UiMessage);
    return boxes.empty() ? "" : boxes.back();
}

}  // namespace

TEST_F(ImageFile, TypeLetterChoosesTheDecoderCaseSensitively) {
    EXPECT_EQ(LoadImageFromPath(WriteTempFile("fw.hex", hex_).c_str()), 1);
    EXPECT_EQ(g_loader.type_letter, 'h');
    EXPECT_EQ(g_loader.image_length, 6000);
    EXPECT_EQ(g_loader.image_loaded, 1);
    EXPECT_EQ(UiTexts(UiPath).back(), TempDir() + "/fw.hex");

    EXPECT_EQ(LoadImageFromPath(WriteTempFile("fw.h86", hex_).c_str()), 1);
    const std::string tvk = MakeMemoryImage(PatternImage(5000, 2), "P", "V");
    EXPECT_EQ(LoadImageFromPath(WriteTempFile("notes.txt", tvk).c_str()), 1);
    EXPECT_EQ(g_loader.type_letter, 't');
    EXPECT_EQ(g_loader.image_length, 5000);
    EXPECT_TRUE(UiTexts(UiMessage).empty());

    for (const char* name : {"fw.HEX", "fw.bin"}) {
        EXPECT_EQ(LoadImageFromPath(WriteTempFile(name, hex_).c_str()), 0);
        EXPECT_EQ(LastBox(), "File Error: File has unsupported suffix format");
        EXPECT_EQ(g_loader.image_loaded, 0) << "a failed load must not leave the earlier image loaded";
        EXPECT_EQ(g_loader.image_length, int32_t(hex_.size()));
    }
}

TEST_F(ImageFile, EveryRefusalClearsTheLoadedImage) {
    const std::string good = WriteTempFile("good.hex", hex_);
    const std::string cases[] = {
        TempDir() + "/missing.hex",
        WriteTempFile("empty.hex", ""),
        WriteTempFile("bad.hex", hex_.substr(0, hex_.size() / 2)),
        WriteTempFile("big.hex", std::string(kRawFileCapacity + 1, ':')),
        "ab",
    };
    const char* boxes[] = {"File Error: File read error", "File Error: File read error",
                           "File Error: Intel HEX line", "File Error: File is larger than 4194304 bytes",
                           "File Error: File has unsupported suffix format"};
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_EQ(LoadImageFromPath(good.c_str()), 1);
        EXPECT_EQ(LoadImageFromPath(cases[i].c_str()), 0) << cases[i];
        EXPECT_EQ(LastBox().rfind(boxes[i], 0), 0u) << LastBox();
        EXPECT_EQ(g_loader.image_loaded, 0) << cases[i];
    }
}

TEST_F(ImageFile, FileOfExactlyTheBufferSizeIsRead) {
    std::string tvk = MakeMemoryImage(PatternImage(1000, 4), "P", "V");
    tvk += std::string(kRawFileCapacity - tvk.size(), 'z');  // nothing past the end marker is read
    EXPECT_EQ(LoadImageFromPath(WriteTempFile("full.tvk", tvk).c_str()), 1) << LastBox();
    EXPECT_EQ(g_loader.raw_file_length, kRawFileCapacity);
    EXPECT_EQ(g_loader.image_length, 1000);
}

TEST_F(ImageFile, LargestMemoryImageLoadsWithItsHeader) {
    const std::vector<uint8_t> image = PatternImage(kMaxDownloadLength, 6);
    const std::string tvk = MakeMemoryImage(image, "TAV-SIM-PLATFORM", "HW 1.0");
    ASSERT_GT(tvk.size(), 260000u);
    ASSERT_EQ(LoadImageFromPath(WriteTempFile("largest.tvk", tvk).c_str()), 1) << LastBox();
    EXPECT_EQ(g_loader.image_length, kMaxDownloadLength);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), g_loader.image));
    uint8_t identity[32] = {};
    std::memcpy(identity, "TAV-SIM-PLATFORM", 16);
    std::memcpy(identity + 16, "HW 1.0", 6);
    EXPECT_EQ(CompareImageHeader(g_loader.raw_file, g_loader.raw_file_length, identity), 0);
    identity[17] = 'X';
    EXPECT_EQ(CompareImageHeader(g_loader.raw_file, g_loader.raw_file_length, identity), 2);
}

TEST_F(ImageFile, LoadIsRefusedWhileATransferRuns) {
    ASSERT_EQ(LoadImageFromPath(WriteTempFile("fw.hex", hex_).c_str()), 1);
    g_loader.transfer_state = 2;
    ClearUiCalls();
    EXPECT_EQ(LoadImageFromPath(WriteTempFile("other.hex", MakeIntelHex(PatternImage(9000, 9), 0x1000, "\n")).c_str()), 0);
    EXPECT_EQ(g_loader.image_length, 6000);
    EXPECT_TRUE(UiTexts(UiPath).empty());
    ASSERT_EQ(g_ui_calls.size(), 1u);
    EXPECT_EQ(g_ui_calls[0].value, IconWarning);
}

TEST(ImageCompatibility, HeaderFieldsArePrefixesOfTheIdentity) {
    uint8_t identity[32] = {};
    std::memcpy(identity, "ABCDEF", 6);
    std::memcpy(identity + 16, "1.2.3", 5);
    auto header = [](const std::string& platform, const std::string& version) {
        return "TVK IMAGE 1.0\r\n" + platform + "\r\n" + version + "\r\nL";
    };
    auto compare = [&](const std::string& file) {
        return CompareImageHeader(reinterpret_cast<const uint8_t*>(file.data()), int32_t(file.size()), identity);
    };
    EXPECT_EQ(compare(header("ABC             ", "1.2xxxxx")), 0);
    EXPECT_EQ(compare(header("ABCDEF x        ", "1.2\r\n   ")), 0);
    EXPECT_EQ(compare(header("               ", "xxxxxxxx")), 0) << "empty fields pass";
    EXPECT_EQ(compare(header("XBC             ", "9xxxxxxx")), 1);
    EXPECT_EQ(compare(header("ABD             ", "1.2xxxxx")), 1);
    EXPECT_EQ(compare(header("ABC             ", "1.3xxxxx")), 2);
    EXPECT_EQ(compare(header("ABC             ", "1 2xxxxx")), 2) << "a blank inside the version compares";
    std::string cut = header("ABC             ", "1.2.3");
    EXPECT_EQ(CompareImageHeader(reinterpret_cast<const uint8_t*>(cut.data()), 36, identity), 2)
        << "running past the bytes read is a mismatch";
    // A platform field longer than the record runs into its end: a mismatch, never a read past it.
    uint8_t full[32];
    std::memset(full, 'Q', 32);
    std::string long_platform = "TVK IMAGE 1.0\r\n" + std::string(40, 'Q') + "\r\nL";
    EXPECT_EQ(CompareImageHeader(reinterpret_cast<const uint8_t*>(long_platform.data()),
                                 int32_t(long_platform.size()), full), 1);
}
