// Adapters as Windows names them, USB ports as selectors name them, and texts and names carried as UTF-8 without loss.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A fixture's slots by their USB ports, as Windows and Linux name them: the whole path, never a
// part of it; an adapter with two lines on one USB port is no single port.
TEST(UsbPortSelector, NamesTheOnePortOnThatUsbPort) {
    const std::string hub = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)";
    auto port = [](const char* name, const std::string& usb_port) {
        return PortIdentity{name, "", usb_port.empty() ? "" : "0403", "6001", "", "", "", "", usb_port};
    };
    const std::vector<PortIdentity> ports = {port("COM1", ""), port("COM3", hub + "#USB(2)"),
                                             port("COM4", hub + "#USB(3)"), port("COM5", hub + "#USB(3)"),
                                             port("/dev/ttyUSB0", "1-1.4")};
    const struct {
        std::string selector;
        bool ignore_case;
        const char* resolved;  // nullptr: refused
    } cases[] = {
        {"usb-port:" + hub + "#USB(2)", true, "COM3"},
        {"usb-port:pciroot(0)#pci(1400)#usbroot(0)#usb(4)#usb(2)", true, "COM3"},
        {"usb-port:pciroot(0)#pci(1400)#usbroot(0)#usb(4)#usb(2)", false, nullptr},
        {"usb-port:" + hub, true, nullptr},
        {"usb-port:1-1.4", false, "/dev/ttyUSB0"},
        {"usb-port:1-1", false, nullptr},
        {"usb-port:", true, nullptr},
        {"usb-port:" + hub + "#USB(3)", true, nullptr},
        {"COM1", true, "COM1"},
    };
    for (const auto& c : cases) {
        std::string resolved = c.selector;
        std::string why;
        EXPECT_EQ(ResolvePortSelectorAmong(ports, c.ignore_case, &resolved, &why), c.resolved ? 1 : 0) << c.selector;
        EXPECT_EQ(resolved, c.resolved ? c.resolved : c.selector) << c.selector;
    }
    std::string two = "usb-port:" + hub + "#USB(3)";
    std::string why;
    ResolvePortSelectorAmong(ports, true, &two, &why);
    EXPECT_EQ(why, two + " matches several ports (an adapter with several lines), name one by its port name:\n"
                         "  COM4  usb-port:" + hub + "#USB(3)\n  COM5  usb-port:" + hub + "#USB(3)");
    // The USB device's own node holds the port; its interfaces and hubs are looked past.
    for (const auto& [path, device] : {std::pair<std::string, bool>{hub + "#USB(2)", true},
                                       {hub + "#USB(2)#USBMI(0)", false}, {"PCIROOT(0)#PCI(1400)#USBROOT(0)", false},
                                       {"PCIROOT(0)#PCI(1C00)#PCI(0000)", false}, {"", false},
                                       {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)", false}})
        EXPECT_EQ(IsUsbDeviceLocation(path), device) << path;
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
