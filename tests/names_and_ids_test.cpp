// Adapters as Windows names them, and texts and names carried as UTF-8 without loss.
#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "ports/ports.h"

namespace {

PortIdentity Read(const std::string& id) {
    PortIdentity port{"COM3", "", "", "", "", "", "", "", ""};
    ReadDeviceInstanceId(id, &port);
    return port;
}

}  // namespace

TEST(DeviceInstanceId, SerialNumbersOfTheCommonAdaptersAsTheirDriversReportThem) {
    const struct {
        const char* id;
        const char* vendor;
        const char* product;
        const char* serial;
    } cases[] = {
        {"FTDIBUS\\VID_0403+PID_6001+A10KX3Z1A\\0000", "0403", "6001", "A10KX3Z1A"},  // FT232R, FTDI's driver
        {"FTDIBUS\\VID_0403+PID_6010+FT5ABCDEA\\0000", "0403", "6010", "FT5ABCDEA"},  // FT2232H, port A
        {"FTDIBUS\\VID_0403+PID_6011+FT9XYZ12D\\0000", "0403", "6011", "FT9XYZ12D"},  // FT4232H, port D
        {"USB\\VID_0403&PID_6015\\DN05JX2Q", "0403", "6015", "DN05JX2Q"},            // FTDI under the in-box driver
        {"USB\\VID_10C4&PID_EA60\\0001", "10c4", "ea60", "0001"},                    // CP210x
        {"USB\\VID_1A86&PID_7523\\5&2E1C2A5&0&3", "1a86", "7523", ""},               // CH340: no serial number
        {"USB\\VID_2341&PID_0043\\95530343834351A0B1C1", "2341", "0043", "95530343834351A0B1C1"},  // CDC ACM
        {"USB\\VID_2E8A&PID_000A&MI_00\\6&3A1B2C3D&0&0000", "2e8a", "000a", ""},    // CDC ACM, one interface
        {"ACPI\\PNP0501\\1", "", "", ""},                                             // an on-board port
        {"FTDIBUS\\VID_0403+PID_60\\0000", "", "", ""},                               // cut short
    };
    for (const auto& c : cases) {
        const PortIdentity port = Read(c.id);
        EXPECT_EQ(port.vendor_id, c.vendor) << c.id;
        EXPECT_EQ(port.product_id, c.product) << c.id;
        EXPECT_EQ(port.serial_number, c.serial) << c.id;
    }
}

TEST(Utf8Text, DeviceBytesBecomeTheirCharactersAndNamesKeepTheirUtf8) {
    EXPECT_EQ(DeviceTextUtf8("Verze \xf8\x9a"), "Verze \xc3\xb8\xc2\x9a");
    EXPECT_EQ(DeviceTextUtf8("\x80\xff"), "\xc2\x80\xc3\xbf");
    EXPECT_EQ(DeviceTextUtf8("\xc5\x99"), "\xc3\x85\xc2\x99") << "a device's bytes are never read as UTF-8";
    // Whole sequences of two, three and four bytes stay; anything else is escaped byte by byte.
    EXPECT_EQ(NameUtf8("fw_\xc5\x99 \xce\x94 \xe6\xb5\x8b \xf0\x9f\x98\x80"), "fw_\xc5\x99 \xce\x94 \xe6\xb5\x8b \xf0\x9f\x98\x80");
    EXPECT_EQ(NameUtf8("Zkou\x9aka"), "Zkou\xc2\x9aka");
    EXPECT_EQ(NameUtf8("\xc5"), "\xc3\x85") << "cut at the end";
    EXPECT_EQ(NameUtf8("\xc0\xaf"), "\xc3\x80\xc2\xaf") << "overlong";
    EXPECT_EQ(NameUtf8("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80") << "surrogate";
    EXPECT_EQ(NameUtf8("\xf4\x90\x80\x80"), "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80") << "past U+10FFFF";
}
