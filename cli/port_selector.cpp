// tavboot ports and the usb:SERIAL / usb:VID:PID[:SERIAL] selectors resolved against the same listing.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/json_output.h"
#include "cli/port_listing.h"

namespace {

const char kUsbPrefix[] = "usb:";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

std::string UsbId(const PortIdentity& port) {
    return port.vendor_id.empty() ? "" : port.vendor_id + ":" + port.product_id;
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

}  // namespace

int ResolvePortSelector(std::string* port, std::string* why) {
    if (port->rfind(kUsbPrefix, 0) != 0) return 1;
    const std::vector<std::string> parts = SelectorParts(*port);
    if (parts.empty() || parts.size() > 3) {
        *why = *port + " is not usb:SERIAL or usb:VID:PID[:SERIAL]";
        return 0;
    }
    const std::vector<PortIdentity> all = ListSerialPorts();
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

int RunPorts(bool json) {
    const std::vector<PortIdentity> ports = ListSerialPorts();
    if (!json) {
        for (const PortIdentity& port : ports)
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\n", port.port.c_str(), OrDash(port.driver).c_str(),
                        OrDash(UsbId(port)).c_str(), OrDash(port.serial_number).c_str(),
                        OrDash(port.manufacturer).c_str(), OrDash(port.product).c_str(),
                        OrDash(port.stable_name).c_str());
        return kExitOk;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const PortIdentity& port : ports)
        list.push_back({{"port", port.port},
                        {"driver", TextOrNull(port.driver)},
                        {"vendor_id", TextOrNull(port.vendor_id)},
                        {"product_id", TextOrNull(port.product_id)},
                        {"serial_number", TextOrNull(port.serial_number)},
                        {"manufacturer", TextOrNull(port.manufacturer)},
                        {"product", TextOrNull(port.product)},
                        {"stable_name", TextOrNull(port.stable_name)}});
    PrintJsonValue(list);
    return kExitOk;
}
