// Intel HEX and memory image decoders: worked examples, real layouts and every refusal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/loader_state.h"
#include "image/intel_hex.h"
#include "image/memory_image.h"
#include "tests/test_support.h"

namespace {

std::vector<uint8_t> g_image(kImageCapacity);
char g_why[160];

int32_t DecodeHex(const std::string& text) {
    g_why[0] = '\0';
    return DecodeIntelHex(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()),
                          g_image.data(), g_why, sizeof g_why);
}

int32_t DecodeTvk(const std::string& text) {
    g_why[0] = '\0';
    return DecodeMemoryImage(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()),
                             g_image.data(), g_why, sizeof g_why);
}

const std::string kTvkHeader = "TVK IMAGE 1.0\r\nPLATFORM        \r\nHW 1.0xx\r\n";

}  // namespace

TEST(HexPair, DigitsOfBothCases) {
    EXPECT_EQ(DecodeHexPair('7', 'F'), 0x7F);
    EXPECT_EQ(DecodeHexPair('A', '5'), 0xA5);
    EXPECT_EQ(DecodeHexPair('a', 'b'), 0xAB);
    EXPECT_EQ(DecodeHexPair('0', 'a'), 0x0A);
    EXPECT_EQ(DecodeHexPair('f', 'f'), 0xFF);
    EXPECT_EQ(DecodeHexPair('F', 'f'), 0xFF);
}

TEST(IntelHex, WorkedExampleWithSegmentAndStaleBytesCleared) {
    g_image.assign(kImageCapacity, 0x5A);
    const int32_t length = DecodeHex(":020000021000EC\r\n:0400100001020304E2\r\n:00000001FF\r\n");
    ASSERT_EQ(length, 0x10014) << g_why;
    EXPECT_EQ(g_image[0x10010], 1);
    EXPECT_EQ(g_image[0x10013], 4);
    EXPECT_EQ(g_image[0x1000F], 0);
    EXPECT_EQ(g_image[0x10014], 0);
    EXPECT_EQ(g_image[200000], 0) << "bytes past 80000 of an earlier file must not survive";
}

TEST(IntelHex, RecordSemanticsKeptAsDevicesRelyOnThem) {
    // The highest record ends the image, whatever the order; later records overwrite earlier ones.
    std::string text = HexRecord(0, 0x2000, {1, 2}) + "\r\n" + HexRecord(0, 0x1000, {9, 8, 7}) + "\r\n" +
                       HexRecord(0, 0x1001, {0x55}) + "\r\n" + HexRecord(1, 0, {}) + "\r\n";
    DataSpan span{};
    ASSERT_EQ(DecodeIntelHex(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), g_image.data(),
                             g_why, sizeof g_why, &span), 0x2002) << g_why;
    EXPECT_EQ(span.lowest, 0x1000);
    EXPECT_EQ(span.end, 0x2002);
    EXPECT_EQ(g_image[0x1000], 9);
    EXPECT_EQ(g_image[0x1001], 0x55);
    EXPECT_EQ(g_image[0x2001], 2);
    // One type 04 value is ignored: data goes to segment base + offset; other types too.
    text = HexRecord(4, 0, {0x08, 0x00}) + "\n" + HexRecord(3, 0, {0, 0, 0x10, 0}) + "\n" +
           HexRecord(5, 0, {0, 0, 0x10, 0}) + "\n" + HexRecord(0, 0x1000, {0xAB}) + "\n" +
           HexRecord(4, 0, {0x08, 0x00}) + "\n" + HexRecord(1, 0, {}) + "\n";
    ASSERT_EQ(DecodeHex(text), 0x1001) << g_why;
    EXPECT_EQ(g_image[0x1000], 0xAB);
    // A count-0 data record sets the length without storing; an end record alone gives 0.
    EXPECT_EQ(DecodeHex(HexRecord(0, 0x3000, {}) + "\r\n" + HexRecord(1, 0, {}) + "\r\n"), 0x3000);
    EXPECT_EQ(DecodeHex(":00000001FF\r\n"), 0);
    // Lower-case digits decode to their ordinary value.
    EXPECT_EQ(DecodeHex(":01100000ab44\r\n:00000001ff\r\n"), 0x1001) << g_why;
    EXPECT_EQ(g_image[0x1000], 0xAB);
}

TEST(IntelHex, LargeImageWithLfAndCrLfLineEnds) {
    const std::vector<uint8_t> image = PatternImage(kMaxDownloadLength, 3);
    for (const char* line_end : {"\r\n", "\n"}) {
        ASSERT_EQ(DecodeHex(MakeIntelHex(image, 0x1000, line_end)), kMaxDownloadLength) << g_why;
        EXPECT_TRUE(std::equal(image.begin() + 0x1000, image.end(), g_image.begin() + 0x1000));
    }
}

TEST(IntelHex, CorruptOrUnsafeFilesAreRefusedWithTheLine) {
    const std::string good = HexRecord(0, 0x1000, {1, 2, 3, 4});
    const std::string eof = HexRecord(1, 0, {}) + "\r\n";
    struct Case {
        std::string text;
        const char* reason;
    } cases[] = {
        {good + "\r\n", "end-of-file"},                                  // no end record
        {good.substr(0, 12), "ends inside"},                            // cut inside a record
        {"x" + good.substr(1) + "\r\n" + eof, "begin with ':'"},        // bad start code
        {good.substr(0, 9) + "0G" + good.substr(11) + "\r\n" + eof, "hex digit"},
        {good.substr(0, 17) + "00\r\n" + eof, "checksum"},               // wrong checksum
        {good + "\r\r" + eof, "CR LF or LF"},                            // odd line end
        {good + "\r\n\r\n" + eof, "line 2"},                             // blank line
        {HexRecord(2, 0, {0x30, 0x00}) + "\r\n" + HexRecord(0, 0xF7A0, {1}) + "\r\n" + eof,
         "260000"},                                                     // past the image buffer
        {HexRecord(4, 0, {0, 1}) + "\r\n" + good + "\r\n" + HexRecord(4, 0, {0, 0}) + "\r\n" + good + "\r\n" +
         eof, "type 04"},                                               // below the image's base
        {HexRecord(4, 0, {0, 4}) + "\r\n" + good + "\r\n" + HexRecord(4, 0, {0, 8}) + "\r\n" + good + "\r\n" +
         eof, "260000"},                                                // a later block past the buffer
        {HexRecord(2, 0, {0x10}) + "\r\n" + eof, "2 bytes"},
        {good + "\r\n" + eof + HexRecord(2, 0, {0x10, 0}) + "\r\n" + good + "\r\n" + eof,
         "Intel HEX line 4: data record after the end-of-file record"},  // two files joined with cat
    };
    for (const Case& c : cases) {
        g_image.assign(kImageCapacity, 0x5A);
        EXPECT_EQ(DecodeHex(c.text), -1) << c.text;
        EXPECT_NE(std::string(g_why).find(c.reason), std::string::npos) << g_why;
        EXPECT_EQ(g_image[0x1000], 0x5A) << "a refused file must leave the image untouched";
    }
    DecodeHex(good + "\r\n" + good.substr(0, 15) + "FF\r\n" + eof);
    EXPECT_NE(std::string(g_why).find("line 2"), std::string::npos) << g_why;
    EXPECT_EQ(DecodeHex(good + "\r\n" + eof + "\x1a"), 0x1004) << "text after the end record is not data";
}

TEST(IntelHex, LaterLinearAddressesPlaceDataAboveTheFirst) {
    // Data first, then one type 04 value: the second block lies 64 KiB above, not over the first.
    std::string text;
    for (uint8_t value : {uint8_t{0x11}, uint8_t{0x22}}) {
        if (value == 0x22) text += HexRecord(4, 0, {0, 1}) + "\n";
        for (uint16_t at = 0x1000; at < 0x1400; at += 32) text += HexRecord(0, at, std::vector<uint8_t>(32, value)) + "\n";
    }
    text += HexRecord(1, 0, {}) + "\n";
    ASSERT_EQ(DecodeHex(text), 0x11400) << g_why;
    EXPECT_EQ(g_image[0x1000], 0x11);
    EXPECT_EQ(g_image[0x13FF], 0x11);
    EXPECT_EQ(g_image[0x11000], 0x22);
    EXPECT_EQ(g_image[0x113FF], 0x22);
    // The value in force at the first data record is the base, whatever came before it.
    text = HexRecord(4, 0, {0, 0}) + "\n" + HexRecord(4, 0, {0x08, 0x00}) + "\n" + HexRecord(0, 0x1000, {0xAB}) +
           "\n" + HexRecord(4, 0, {0x08, 0x02}) + "\n" + HexRecord(0, 0x0010, {0xCD}) + "\n" +
           HexRecord(1, 0, {}) + "\n";
    ASSERT_EQ(DecodeHex(text), 0x20011) << g_why;
    EXPECT_EQ(g_image[0x1000], 0xAB);
    EXPECT_EQ(g_image[0x20010], 0xCD);
}

TEST(IntelHex, DataBelowTheFirstSentOffsetIsCountedOnce) {
    DataSpan span{};
    const std::string text = HexRecord(0, 0x0FFE, {1, 2, 3, 4}) + "\n" + HexRecord(0, 0x0FFF, {5, 6}) + "\n" +
                             HexRecord(0, 0x0800, {0}) + "\n" + HexRecord(1, 0, {}) + "\n";
    ASSERT_EQ(DecodeIntelHex(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), g_image.data(),
                             g_why, sizeof g_why, &span), 0x1002) << g_why;
    EXPECT_EQ(span.lowest, 0x0800);
    EXPECT_EQ(span.below_first_offset, 3) << "0x0800, 0x0FFE and 0x0FFF, overlaps counted once";
    // A memory image's zeros below 0x1000 stand for the bootloader's area and are not data.
    std::vector<uint8_t> image(5000, 0);
    image[4095] = 7;
    span = MemoryImageSpan(image.data(), 5000);
    EXPECT_EQ(span.lowest, 4095);
    EXPECT_EQ(span.below_first_offset, 1);
    image[4095] = 0;
    EXPECT_EQ(MemoryImageSpan(image.data(), 5000).lowest, 4096);
    EXPECT_EQ(MemoryImageSpan(image.data(), 4096).lowest, -1);
}

TEST(MemoryImage, WorkedExampleAndEndMarkerPositions) {
    g_image.assign(kImageCapacity, 0x5A);
    ASSERT_EQ(DecodeTvk(kTvkHeader + "0102\r\n0A0B\r\nL"), 4) << g_why;
    EXPECT_EQ(g_image[0], 1);
    EXPECT_EQ(g_image[3], 0x0B);
    EXPECT_EQ(g_image[4], 0) << "bytes of an earlier image must not survive";
    EXPECT_EQ(DecodeTvk(kTvkHeader + "L"), 0);
    EXPECT_EQ(DecodeTvk(kTvkHeader + "0102L"), 2);
    EXPECT_EQ(DecodeTvk(kTvkHeader + "ab0f\r\nL"), 2);
    EXPECT_EQ(g_image[0], 0xAB);
    const std::vector<uint8_t> image = PatternImage(kMaxDownloadLength, 5);
    ASSERT_EQ(DecodeTvk(MakeMemoryImage(image, "P", "V")), kMaxDownloadLength) << g_why;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), g_image.begin()));
}

TEST(MemoryImage, MalformedFilesAreRefused) {
    struct Case {
        std::string text;
        const char* reason;
    } cases[] = {
        {kTvkHeader.substr(0, 40), "too short"},
        {kTvkHeader + "0102\r\n0304", "end marker"},
        {kTvkHeader + "0102\r", "CR LF"},
        {kTvkHeader + "0102\n0304L", "CR LF"},
        {kTvkHeader + "0102\r0304L", "CR LF"},
        {kTvkHeader + "01G2L", "hex digit"},
        {kTvkHeader + "010\r\nL", "hex digit"},
        {kTvkHeader + "01\r\n\r\nL", "hex digit"},
    };
    for (const Case& c : cases) {
        g_image.assign(kImageCapacity, 0x5A);
        EXPECT_EQ(DecodeTvk(c.text), -1) << c.text;
        EXPECT_NE(std::string(g_why).find(c.reason), std::string::npos) << c.text << " -> " << g_why;
        EXPECT_EQ(g_image[0], 0x5A);
    }
    std::string huge = kTvkHeader + std::string(2 * (kImageCapacity + 1), '0') + "L";
    EXPECT_EQ(DecodeTvk(huge), -1);
    EXPECT_NE(std::string(g_why).find("260000"), std::string::npos);
}
