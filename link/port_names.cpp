// Port names: the Win32 device path of a port name.
#include "link/port_names.h"

#include <cstdio>
#include <cstring>

void Win32DevicePath(const char* port_name, char* path, size_t capacity) {
    static const char kDevicePrefix[] = "\\\\.\\";
    const bool has_prefix = std::strncmp(port_name, kDevicePrefix, sizeof kDevicePrefix - 1) == 0;
    std::snprintf(path, capacity, "%s%s", has_prefix ? "" : kDevicePrefix, port_name);
}
