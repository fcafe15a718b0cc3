// What a Windows device instance id says of a USB serial adapter: vendor, product and serial number.
#include <cctype>
#include <string>
#include <vector>

#include "ports/ports.h"

namespace {

// The four hex digits after tag at the start of part, lower case; empty when they are not there.
std::string HexAfter(const std::string& part, const char* tag) {
    const std::string prefix = tag;
    if (part.compare(0, prefix.size(), prefix) != 0 || part.size() != prefix.size() + 4) return "";
    std::string hex = part.substr(prefix.size());
    for (char& c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (size_t end; (end = text.find(separator, begin)) != std::string::npos; begin = end + 1)
        parts.push_back(text.substr(begin, end - begin));
    parts.push_back(text.substr(begin));
    return parts;
}

}  // namespace

// USB\VID_10C4&PID_EA60\0001: the last part is the adapter's serial number.
// FTDIBUS\VID_0403+PID_6001+A10KX3Z1A\0000: FTDI's driver puts it third in the middle part,
// with the port's letter appended on the multi-port chips (FT2232, FT4232).
// A part the system made up itself holds '&' (USB\VID_1A86&PID_7523\5&2E1C2A5&0&3): no serial number.
void ReadDeviceInstanceId(const std::string& id, PortIdentity* port) {
    const bool usb = id.compare(0, 4, "USB\\") == 0;
    const bool ftdi = id.compare(0, 8, "FTDIBUS\\") == 0;
    const size_t first = id.find('\\');
    const size_t last = id.rfind('\\');
    if ((!usb && !ftdi) || last == first) return;
    const std::vector<std::string> parts = Split(id.substr(first + 1, last - first - 1), usb ? '&' : '+');
    if (parts.size() < 2) return;
    const std::string vendor = HexAfter(parts[0], "VID_");
    const std::string product = HexAfter(parts[1], "PID_");
    if (vendor.empty() || product.empty()) return;
    port->vendor_id = vendor;
    port->product_id = product;
    const std::string serial = usb ? id.substr(last + 1) : parts.size() == 3 ? parts[2] : "";
    port->serial_number = serial.find('&') == std::string::npos ? serial : "";
}
