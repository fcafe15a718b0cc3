// The serial ports of this machine and what identifies each one, for tavboot ports and usb: selectors.
#pragma once
#include <string>
#include <vector>

// Empty texts are facts the system did not give.
struct PortIdentity {
    std::string port;           // the name to open: /dev/ttyUSB0, COM12
    std::string driver;
    std::string vendor_id;      // four lower-case hex digits for USB adapters
    std::string product_id;
    std::string serial_number;
    std::string manufacturer;
    std::string product;        // the product name, or on Windows the friendly name
    std::string stable_name;    // /dev/serial/by-id/... on Linux
    std::string usb_port;       // the physical USB port: Linux's sysfs device path such as 1-1.4,
                                // Windows's location path such as PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)
};

// Platform: every serial port, sorted by name.
std::vector<PortIdentity> ListSerialPorts();

// Windows: vendor, product and serial number from a device instance id (USB\ or FTDI's FTDIBUS\);
// port stays as it is for ids of other buses.
void ReadDeviceInstanceId(const std::string& id, PortIdentity* port);

// "vid:pid" of a USB adapter, empty for other ports.
std::string UsbId(const PortIdentity& port);
// Replaces a usb:SERIAL, usb:VID:PID[:SERIAL] or usb-port:PATH selector by the one port it
// matches; other names stay. Returns 0 with why naming the candidates when none or several match.
int ResolvePortSelector(std::string* port, std::string* why);
// The same among ports as listed: usb-port: paths compared ignoring their letters' case when
// ignore_case (Windows), exactly otherwise.
int ResolvePortSelectorAmong(const std::vector<PortIdentity>& ports, bool ignore_case, std::string* port,
                             std::string* why);
// Platform: whether usb-port: paths are compared ignoring case.
bool UsbPortIgnoresCase();
// Whether a Windows location path is a USB device's own (its last step USB(n), the port of its
// hub), not one of its interfaces (USBMI(n)) nor anything else.
bool IsUsbDeviceLocation(const std::string& path);
