// Simulated device options: fault names and command-line options.
#include "sim/sim_options.h"

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static const struct { SimFault fault; const char* name; } kFaultNames[] = {
    {SimFaultNone, "none"},
    {SimFaultSilent, "silent"},
    {SimFaultSyncZero, "sync-zero"},
    {SimFaultSyncCrcFail, "sync-crc-fail"},
    {SimFaultShortIdentity, "short-identity"},
    {SimFaultWrongKey, "wrong-key"},
    {SimFaultNoEraseAck, "no-erase-ack"},
    {SimFaultBadEraseAck, "bad-erase-ack"},
    {SimFaultBadDataAck, "bad-data-ack"},
    {SimFaultNoDataAck, "no-data-ack"},
    {SimFaultNoPageAck, "no-page-ack"},
    {SimFaultBadPageAck, "bad-page-ack"},
    {SimFaultLateExtraByte, "late-extra-byte"},
    {SimFaultGarbageBeforeUnlockAck, "garbage-before-unlock-ack"},
    {SimFaultHangupAtMessage, "hangup-at-message"},
    {SimFaultShortAppReply, "short-app-reply"},
    {SimFaultModbusException, "modbus-exception"},
    {SimFaultNotInApplication, "not-in-application"},
    {SimFaultFlood, "flood"},
    {SimFaultGarbageEcho, "garbage-echo"},
    {SimFaultVerySlow, "very-slow"},
    {SimFaultHangupInPhase, "hangup-in-phase"},
};

const char kSimOptionsHelp[] =
    "  --link PATH         symbolic link to the device's serial line\n"
    "  --flash-out FILE    write the device's flash to FILE at exit\n"
    "  --paced             move bytes at 19200 baud\n"
    "  --adapter-latency MS  answers pass a USB adapter with this latency timer\n"
    "  --stale HEX         bytes waiting in the line before the first opener\n"
    "  --erase-delay MS    delay before the erase acknowledgement\n"
    "  --program-delay MS  delay before each page acknowledgement\n"
    "  --fault NAME        one of the faults listed below\n"
    "  --fault-arg N       message, page, phase, count or byte the fault acts on\n"
    "  --status HEX2       answer to the sync byte\n"
    "  --platform S        HW platform (16 characters at most)\n"
    "  --hw-version S      HW version (8)\n"
    "  --boot-sw S         BOOT SW version (8)\n"
    "  --app-name S        application name (16)\n"
    "  --fw-version S      FW version (8)\n"
    "  --boot-value HEX4   enter-boot value the application accepts\n"
    "  --key HEX8          unlock key the bootloader accepts\n";

int ParseSimFault(const char* name, SimFault* out) {
    for (const auto& entry : kFaultNames) {
        if (std::strcmp(entry.name, name) == 0) {
            *out = entry.fault;
            return 1;
        }
    }
    return 0;
}

const char* SimFaultName(SimFault fault) {
    for (const auto& entry : kFaultNames) {
        if (entry.fault == fault) return entry.name;
    }
    return nullptr;
}

const char* SimFaultNames() {
    static std::string names;
    if (names.empty()) {
        for (const auto& entry : kFaultNames) names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    return names.c_str();
}

// Exactly `digits` hexadecimal digits.
static int ParseHex(const char* text, int digits, uint32_t* value) {
    if (static_cast<int>(std::strlen(text)) != digits) return 0;
    for (int i = 0; i < digits; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return 0;
    }
    *value = static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
    return 1;
}

// An even number of hexadecimal digits, as many bytes as fit.
static int ParseHexBytes(const char* text, uint8_t* bytes, size_t capacity, int* length) {
    const size_t digits = std::strlen(text);
    if (digits == 0 || digits % 2 != 0 || digits / 2 > capacity) return 0;
    for (size_t i = 0; i < digits; i += 2) {
        const char pair[3] = {text[i], text[i + 1], '\0'};
        uint32_t value;
        if (!ParseHex(pair, 2, &value)) return 0;
        bytes[i / 2] = static_cast<uint8_t>(value);
    }
    *length = static_cast<int>(digits / 2);
    return 1;
}

int ParseSimStale(const char* text, SimConfig* config) {
    return ParseHexBytes(text, config->stale, sizeof config->stale, &config->stale_length);
}

static int ParseCount(const char* text, int* value) {
    char* end;
    long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 1000000) return 0;
    *value = static_cast<int>(parsed);
    return 1;
}

// Options that carry a text for a fixed-width field of the device's answers.
static char* TextField(SimConfig* config, const char* option, size_t* width) {
    static const struct { const char* option; size_t offset; size_t width; } kFields[] = {
        {"--platform", offsetof(SimConfig, platform), sizeof(SimConfig::platform)},
        {"--hw-version", offsetof(SimConfig, hw_version), sizeof(SimConfig::hw_version)},
        {"--boot-sw", offsetof(SimConfig, boot_sw_version), sizeof(SimConfig::boot_sw_version)},
        {"--app-name", offsetof(SimConfig, app_name), sizeof(SimConfig::app_name)},
        {"--fw-version", offsetof(SimConfig, fw_version), sizeof(SimConfig::fw_version)},
    };
    for (const auto& field : kFields) {
        if (std::strcmp(field.option, option) != 0) continue;
        *width = field.width;
        return reinterpret_cast<char*>(config) + field.offset;
    }
    return nullptr;
}

static int ApplyValueOption(SimConfig* config, const char* option, const char* value) {
    uint32_t hex;
    size_t width;
    if (char* field = TextField(config, option, &width)) {
        SimSetText(field, width, value);
        return 1;
    }
    if (std::strcmp(option, "--erase-delay") == 0) return ParseCount(value, &config->erase_delay_ms);
    if (std::strcmp(option, "--program-delay") == 0) return ParseCount(value, &config->program_delay_ms);
    if (std::strcmp(option, "--adapter-latency") == 0) return ParseCount(value, &config->adapter_latency_ms);
    if (std::strcmp(option, "--stale") == 0) return ParseSimStale(value, config);
    if (std::strcmp(option, "--fault-arg") == 0) return ParseCount(value, &config->fault_arg);
    if (std::strcmp(option, "--fault") == 0) return ParseSimFault(value, &config->fault);
    if (std::strcmp(option, "--status") == 0) {
        if (!ParseHex(value, 2, &hex)) return 0;
        config->status_byte = static_cast<uint8_t>(hex);
        return 1;
    }
    if (std::strcmp(option, "--boot-value") == 0) {
        if (!ParseHex(value, 4, &hex)) return 0;
        config->boot_value = static_cast<uint16_t>(hex);
        return 1;
    }
    if (std::strcmp(option, "--key") == 0) {
        if (!ParseHex(value, 8, &hex)) return 0;
        for (int i = 0; i < 4; ++i) config->key[i] = static_cast<uint8_t>(hex >> (24 - 8 * i));
        return 1;
    }
    return -1;
}

int ParseSimArguments(int argc, char** argv, SimConfig* config, const char** link_path,
                      const char** flash_out_path) {
    *link_path = nullptr;
    *flash_out_path = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--paced") == 0) {
            config->paced = 1;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "unknown option or missing value: %s\n", option);
            return 0;
        }
        const char* value = argv[++i];
        if (std::strcmp(option, "--link") == 0) {
            *link_path = value;
            continue;
        }
        if (std::strcmp(option, "--flash-out") == 0) {
            *flash_out_path = value;
            continue;
        }
        int applied = ApplyValueOption(config, option, value);
        if (applied == 1) continue;
        if (applied == 0) std::fprintf(stderr, "bad value for %s: %s\n", option, value);
        if (applied < 0) std::fprintf(stderr, "unknown option: %s\n", option);
        return 0;
    }
    return 1;
}
