// tavboot ports: the serial ports of this machine and what identifies them, one a line or as JSON.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "console/console.h"
#include "console/json_output.h"
#include "ports/ports.h"

namespace {

nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(NameUtf8(text)); }

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

int RunPorts(bool json) {
    const std::vector<PortIdentity> ports = ListSerialPorts();
    if (!json) {
        for (const PortIdentity& port : ports)
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", port.port.c_str(), OrDash(port.driver).c_str(),
                        OrDash(UsbId(port)).c_str(), OrDash(port.serial_number).c_str(),
                        OrDash(port.manufacturer).c_str(), OrDash(port.product).c_str(),
                        OrDash(port.stable_name).c_str(), OrDash(port.usb_port).c_str());
        return kExitOk;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const PortIdentity& port : ports)
        list.push_back({{"port", NameUtf8(port.port)},
                        {"driver", TextOrNull(port.driver)},
                        {"vendor_id", TextOrNull(port.vendor_id)},
                        {"product_id", TextOrNull(port.product_id)},
                        {"serial_number", TextOrNull(port.serial_number)},
                        {"manufacturer", TextOrNull(port.manufacturer)},
                        {"product", TextOrNull(port.product)},
                        {"stable_name", TextOrNull(port.stable_name)},
                        {"usb_port", TextOrNull(port.usb_port)}});
    PrintJsonValue(list);
    return kExitOk;
}
