// Fingerprints of the sent bytes: known vectors, and sha256sum over exactly the pages a download sends.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/loader_state.h"
#include "image/image_digest.h"
#include "image/image_file.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

namespace {

std::string Sha256Hex(const std::string& text) {
    uint8_t digest[32];
    Sha256(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), digest);
    std::string hex;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string CommandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (pipe) pclose(pipe);
    return out;
}

}  // namespace

TEST(ImageDigest, KnownVectorsAcrossBlockBoundaries) {
    const auto crc = [](const std::string& text) {
        return Crc32(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    };
    EXPECT_EQ(crc("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc(""), 0u);
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(ImageDigest, SentPagesMatchSha256sumOfTheSameBytes) {
    ResetLoaderState();
    ClearUiCalls();
    // 5000 bytes from 0x1000: image length 9096, five pages, the last one padded with zeros.
    const std::vector<uint8_t> firmware = PatternImage(5000, 11);
    std::vector<uint8_t> image(kImageFirstOffset + firmware.size(), 0);
    std::copy(firmware.begin(), firmware.end(), image.begin() + kImageFirstOffset);
    ASSERT_EQ(LoadImageFromPath(WriteTempFile("fw.hex", MakeIntelHex(image, 0x1000, "\r\n")).c_str()), 1);
    ASSERT_EQ(SentPageCount(g_loader.image_length), 5u);
    std::string sent(firmware.begin(), firmware.end());
    sent.resize(5 * kPageSize, '\0');
    const std::string path = WriteTempFile("sent.bin", sent);
    char hex[65];
    ComputeSentImageSha256(hex);
    EXPECT_EQ(std::string(hex) + "  " + path + "\n", CommandOutput("sha256sum " + path));
    EXPECT_EQ(ComputeSentImageCrc32(), Crc32(reinterpret_cast<const uint8_t*>(sent.data()), uint32_t(sent.size())));
    // Nothing is sent for a length DownLoad refuses.
    g_loader.image_length = kMaxDownloadLength + 1;
    ComputeSentImageSha256(hex);
    EXPECT_EQ(std::string(hex), Sha256Hex(""));
}
