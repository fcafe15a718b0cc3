// Port names: what the operator types mapped onto the name the platform opens.
#pragma once
#include <cstddef>

// The Win32 device path of a port name: "COM12" becomes "\\.\COM12" (COM10 and
// above open only that way); a name that already starts with "\\.\" stays.
// Cut to fit capacity (at least 1).
void Win32DevicePath(const char* port_name, char* path, size_t capacity);
