// tavboot ports on Linux: the serial lines the kernel knows and their stable by-id names.
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "cli/cli_commands.h"

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

}  // namespace

int RunPorts() {
    std::set<std::string> ports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", error)) {
        if (IsSerialLine(entry.path())) ports.insert("/dev/" + entry.path().filename().string());
    }
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", error)) {
        ports.insert(entry.path().string());
    }
    for (const std::string& port : ports) std::printf("%s\n", port.c_str());
    return kExitOk;
}
