// The usb:SERIAL / usb:VID:PID[:SERIAL] and usb-port:PATH selectors resolved against the listing of tavboot ports.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "ports/ports.h"

namespace {

const char kUsbPrefix[] = "usb:";
const char kUsbPortPrefix[] = "usb-port:";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The selector split at its colons: SERIAL, or VID PID, or VID PID SERIAL.
std::vector<std::string> SelectorParts(const std::string& selector) {
    std::vector<std::string> parts;
    std::istringstream rest(selector.substr(sizeof kUsbPrefix - 1));
    std::string part;
    while (std::getline(rest, part, ':')) parts.push_back(part);
    return parts;
}

bool Matches(const PortIdentity& port, const std::vector<std::string>& parts) {
    if (port.vendor_id.empty()) return false;
    if (parts.size() == 1) return port.serial_number == parts[0];
    const bool ids = Lower(parts[0]) == port.vendor_id && Lower(parts[1]) == port.product_id;
    return ids && (parts.size() == 2 || port.serial_number == parts[2]);
}

std::string Describe(const std::vector<PortIdentity>& ports) {
    std::string text;
    for (const PortIdentity& port : ports) {
        if (port.vendor_id.empty()) continue;
        text += "\n  " + port.port + "  usb:" + UsbId(port) + (port.serial_number.empty() ? "" : ":" + port.serial_number);
    }
    return text.empty() ? " (no USB serial adapter is present)" : text;
}

std::string DescribeUsbPorts(const std::vector<PortIdentity>& ports) {
    std::string text;
    for (const PortIdentity& port : ports)
        if (!port.usb_port.empty()) text += "\n  " + port.port + "  usb-port:" + port.usb_port;
    return text.empty() ? " (no USB serial adapter is present)" : text;
}

}  // namespace

std::string UsbId(const PortIdentity& port) {
    return port.vendor_id.empty() ? "" : port.vendor_id + ":" + port.product_id;
}

bool IsUsbDeviceLocation(const std::string& path) {
    const size_t last = path.rfind('#');
    return last != std::string::npos && path.compare(last + 1, 4, "USB(") == 0 && path.back() == ')';
}

// usb-port:PATH: the adapter plugged into that USB port, whichever it is. An adapter with
// several lines puts them all on its USB port: then none is chosen.
static int ResolveUsbPortSelector(const std::vector<PortIdentity>& ports, bool ignore_case, std::string* port,
                                  std::string* why) {
    const std::string path = port->substr(sizeof kUsbPortPrefix - 1);
    const auto folded = [&](const std::string& text) { return ignore_case ? Lower(text) : text; };
    std::vector<PortIdentity> matching;
    for (const PortIdentity& candidate : ports)
        if (!path.empty() && folded(candidate.usb_port) == folded(path)) matching.push_back(candidate);
    if (matching.size() == 1) {
        *port = matching[0].port;
        return 1;
    }
    if (matching.empty())
        *why = "no port is on USB port " + path + "; USB ports:" + DescribeUsbPorts(ports);
    else
        *why = *port + " matches several ports (an adapter with several lines), name one by its port name:" +
               DescribeUsbPorts(matching);
    return 0;
}

int ResolvePortSelector(std::string* port, std::string* why) {
    if (port->rfind(kUsbPortPrefix, 0) != 0 && port->rfind(kUsbPrefix, 0) != 0) return 1;
    return ResolvePortSelectorAmong(ListSerialPorts(), UsbPortIgnoresCase(), port, why);
}

int ResolvePortSelectorAmong(const std::vector<PortIdentity>& all, bool ignore_case, std::string* port,
                             std::string* why) {
    if (port->rfind(kUsbPortPrefix, 0) == 0) return ResolveUsbPortSelector(all, ignore_case, port, why);
    if (port->rfind(kUsbPrefix, 0) != 0) return 1;
    const std::vector<std::string> parts = SelectorParts(*port);
    if (parts.empty() || parts.size() > 3) {
        *why = *port + " is not usb:SERIAL or usb:VID:PID[:SERIAL]";
        return 0;
    }
    std::vector<PortIdentity> matching;
    for (const PortIdentity& candidate : all)
        if (Matches(candidate, parts)) matching.push_back(candidate);
    if (matching.size() == 1) {
        *port = matching[0].port;
        return 1;
    }
    if (matching.empty())
        *why = "no port matches " + *port + "; USB ports:" + Describe(all);
    else
        *why = *port + " matches several ports, name one by its serial number:" + Describe(matching);
    return 0;
}
