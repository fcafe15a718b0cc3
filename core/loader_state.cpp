// The loader state record and its start-up defaults.
#include "core/loader_state.h"

#include <cstddef>
#include <cstring>

LoaderState g_loader;

void ResetLoaderState() {
    std::memset(&g_loader, 0, offsetof(LoaderState, raw_file));
    std::strcpy(g_loader.port_name, "COM1");
    g_loader.port = kNoPort;
    g_loader.data_lowest = -1;
    g_loader.enter_boot_value = TAVBOOT_ENTER_BOOT_VALUE;
    const uint32_t key = TAVBOOT_UNLOCK_KEY;
    g_loader.unlock_key[0] = static_cast<uint8_t>(key >> 24);
    g_loader.unlock_key[1] = static_cast<uint8_t>(key >> 16);
    g_loader.unlock_key[2] = static_cast<uint8_t>(key >> 8);
    g_loader.unlock_key[3] = static_cast<uint8_t>(key);
}
