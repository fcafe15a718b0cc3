// The serial ports on Linux: the lines sysfs knows, their driver, USB identity and stable by-id name.
// TAVBOOT_SYSFS_ROOT names another root under which sys/class/tty and dev/serial/by-id are read.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ports/ports.h"

namespace fs = std::filesystem;

namespace {

// A tty with a device behind it is a real serial line (virtual consoles have none);
// the legacy 8250 ports are always listed, so keep only those with a known type.
bool IsSerialLine(const fs::path& tty) {
    std::error_code error;
    if (!fs::exists(tty / "device", error)) return false;
    const std::string name = tty.filename().string();
    if (name.rfind("ttyS", 0) != 0) return true;
    FILE* type_file = std::fopen((tty / "type").c_str(), "r");
    if (!type_file) return false;
    int type = 0;
    const bool known = std::fscanf(type_file, "%d", &type) == 1 && type != 0;
    std::fclose(type_file);
    return known;
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device is the nearest directory above the tty's device that has a vendor id.
void ReadUsbIdentity(const fs::path& device, PortIdentity* port) {
    std::error_code error;
    for (fs::path at = device; at.has_relative_path(); at = at.parent_path()) {
        if (!fs::exists(at / "idVendor", error)) continue;
        port->vendor_id = FirstLine(at / "idVendor");
        port->product_id = FirstLine(at / "idProduct");
        port->serial_number = FirstLine(at / "serial");
        port->manufacturer = FirstLine(at / "manufacturer");
        port->product = FirstLine(at / "product");
        port->usb_port = at.filename().string();
        return;
    }
}

PortIdentity Identify(const fs::path& tty) {
    PortIdentity port;
    port.port = "/dev/" + tty.filename().string();
    std::error_code error;
    const fs::path device = fs::canonical(tty / "device", error);
    if (error) return port;
    port.driver = fs::read_symlink(device / "driver", error).filename().string();
    ReadUsbIdentity(device, &port);
    return port;
}

}  // namespace

// sysfs names are what they are, letter for letter.
bool UsbPortIgnoresCase() { return false; }

std::vector<PortIdentity> ListSerialPorts() {
    const char* root_variable = std::getenv("TAVBOOT_SYSFS_ROOT");
    const fs::path root = root_variable ? root_variable : "/";
    std::vector<PortIdentity> ports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "sys/class/tty", error))
        if (IsSerialLine(entry.path())) ports.push_back(Identify(entry.path()));
    for (const auto& entry : fs::directory_iterator(root / "dev/serial/by-id", error)) {
        const std::string target = fs::read_symlink(entry.path(), error).filename().string();
        for (PortIdentity& port : ports)
            if (port.port == "/dev/" + target) port.stable_name = "/dev/serial/by-id/" + entry.path().filename().string();
    }
    std::sort(ports.begin(), ports.end(), [](const PortIdentity& a, const PortIdentity& b) { return a.port < b.port; });
    return ports;
}
