// The serial ports on Windows: every COM device the system knows, with what the Setup API says of it.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <initguid.h>
#include <devguid.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ports/ports.h"

namespace {

// Every DOS device name; the buffer grows until the whole list fits.
std::vector<std::string> ComDeviceNames() {
    std::vector<std::string> names;
    std::vector<char> list(16384);
    DWORD length = 0;
    while ((length = QueryDosDeviceA(nullptr, list.data(), DWORD(list.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && list.size() < (64u << 20))
        list.resize(list.size() * 2);
    for (DWORD at = 0; at < length && list[at] != '\0'; at += DWORD(std::strlen(&list[at])) + 1)
        if (std::strncmp(&list[at], "COM", 3) == 0) names.push_back(&list[at]);
    return names;
}

std::string RegistryProperty(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property) {
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyA(devices, device, property, nullptr, nullptr, 0, &size);
    std::vector<BYTE> value(size + 1, 0);
    if (!size || !SetupDiGetDeviceRegistryPropertyA(devices, device, property, nullptr, value.data(), size, nullptr))
        return "";
    return reinterpret_cast<const char*>(value.data());
}

std::string PortName(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    const HKEY key = SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return "";
    char name[256] = "";
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool read = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    return read ? name : "";
}

void ReadInstanceId(HDEVINFO devices, SP_DEVINFO_DATA* device, PortIdentity* port) {
    DWORD size = 0;
    SetupDiGetDeviceInstanceIdA(devices, device, nullptr, 0, &size);
    std::vector<char> id(size + 1, '\0');
    if (!size || !SetupDiGetDeviceInstanceIdA(devices, device, id.data(), size, nullptr)) return;
    ReadDeviceInstanceId(id.data(), port);
}

// The location path of a device node that names it as a USB device (the list may also hold an
// ACPI form of it); empty when none does.
std::string UsbDeviceLocation(DEVINST node) {
    ULONG size = 0;
    if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_LOCATION_PATHS, nullptr, nullptr, &size, 0) != CR_BUFFER_SMALL ||
        size == 0)
        return "";
    std::vector<char> paths(size + 2, '\0');
    if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_LOCATION_PATHS, nullptr, paths.data(), &size, 0) != CR_SUCCESS)
        return "";
    for (const char* path = paths.data(); *path; path += std::strlen(path) + 1)
        if (IsUsbDeviceLocation(path)) return path;
    return "";
}

// The USB port of a USB adapter's COM port: the port's own node is the USB device (CH340, CP210x,
// CDC ACM), or it sits below it (FTDI's bus driver; an interface of a composite device).
std::string UsbPortOf(DEVINST node) {
    for (int step = 0; step < 4; ++step) {
        const std::string path = UsbDeviceLocation(node);
        if (!path.empty()) return path;
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
        node = parent;
    }
    return "";
}

void AddSetupApiFacts(std::vector<PortIdentity>* ports) {
    const HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const std::string name = PortName(devices, &device);
        if (name.rfind("COM", 0) != 0) continue;
        auto known = std::find_if(ports->begin(), ports->end(), [&](const PortIdentity& p) { return p.port == name; });
        if (known == ports->end()) known = ports->insert(ports->end(), PortIdentity{name, "", "", "", "", "", "", "", ""});
        known->driver = RegistryProperty(devices, &device, SPDRP_SERVICE);
        known->manufacturer = RegistryProperty(devices, &device, SPDRP_MFG);
        known->product = RegistryProperty(devices, &device, SPDRP_FRIENDLYNAME);
        ReadInstanceId(devices, &device, &*known);
        // Only for adapters whose instance id is USB's: a Bluetooth port, say, sits below a USB radio.
        if (!known->vendor_id.empty()) known->usb_port = UsbPortOf(device.DevInst);
    }
    SetupDiDestroyDeviceInfoList(devices);
}

// COM2 before COM10.
bool ComesBefore(const PortIdentity& a, const PortIdentity& b) {
    if (a.port.size() != b.port.size()) return a.port.size() < b.port.size();
    return a.port < b.port;
}

}  // namespace

// Windows names devices whatever their letters' case.
bool UsbPortIgnoresCase() { return true; }

std::vector<PortIdentity> ListSerialPorts() {
    std::vector<PortIdentity> ports;
    for (const std::string& name : ComDeviceNames()) ports.push_back(PortIdentity{name, "", "", "", "", "", "", "", ""});
    AddSetupApiFacts(&ports);
    std::sort(ports.begin(), ports.end(), ComesBefore);
    return ports;
}
