// tavboot ports on Windows: the COM devices the system knows.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/cli_commands.h"

int RunPorts() {
    std::vector<char> names(65536);
    const DWORD length = QueryDosDeviceA(nullptr, names.data(), DWORD(names.size()));
    for (DWORD at = 0; at < length && names[at] != '\0'; at += DWORD(std::strlen(&names[at])) + 1) {
        if (std::strncmp(&names[at], "COM", 3) == 0) std::printf("%s\n", &names[at]);
    }
    return kExitOk;
}
