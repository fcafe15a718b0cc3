// The simulator's command line: fault names and the one table of options both programs take.
#include "sim/sim_options.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const struct { SimFault fault; const char* name; } kFaultNames[] = {
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

}  // namespace

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

namespace {

// Exactly `digits` hexadecimal digits.
int ParseHex(const char* text, int digits, uint32_t* value) {
    if (static_cast<int>(std::strlen(text)) != digits) return 0;
    for (int i = 0; i < digits; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return 0;
    }
    *value = static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
    return 1;
}

// An even number of hexadecimal digits, as many bytes as fit.
int ParseHexBytes(const char* text, uint8_t* bytes, size_t capacity, int* length) {
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

// A whole decimal number from low to high.
int ParseNumber(const char* text, int low, int high, int* value) {
    char* end;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < low || parsed > high) return 0;
    *value = static_cast<int>(parsed);
    return 1;
}

// Options that carry a text for a fixed-width field of the device's answers.
char* TextField(SimConfig* config, const std::string& name, size_t* width) {
    static const struct { const char* name; size_t offset; size_t width; } kFields[] = {
        {"--platform", offsetof(SimConfig, platform), sizeof(SimConfig::platform)},
        {"--hw-version", offsetof(SimConfig, hw_version), sizeof(SimConfig::hw_version)},
        {"--boot-sw", offsetof(SimConfig, boot_sw_version), sizeof(SimConfig::boot_sw_version)},
        {"--app-name", offsetof(SimConfig, app_name), sizeof(SimConfig::app_name)},
        {"--fw-version", offsetof(SimConfig, fw_version), sizeof(SimConfig::fw_version)},
    };
    for (const auto& field : kFields) {
        if (name != field.name) continue;
        *width = field.width;
        return reinterpret_cast<char*>(config) + field.offset;
    }
    return nullptr;
}

// The option's first name: the one it is known by.
std::string FirstName(const SimOptionInfo& option) {
    const std::string names = option.names;
    return names.substr(0, names.find(','));
}

bool HasName(const SimOptionInfo& option, const char* name) {
    return ("," + std::string(option.names) + ",").find("," + std::string(name) + ",") != std::string::npos;
}

int ApplyHexOption(SimConfig* config, const std::string& name, const char* value) {
    uint32_t hex;
    const int digits = name == "--status" ? 2 : name == "--boot-value" ? 4 : 8;
    if (!ParseHex(value, digits, &hex)) return 0;
    if (name == "--status") config->status_byte = static_cast<uint8_t>(hex);
    else if (name == "--boot-value") config->boot_value = static_cast<uint16_t>(hex);
    else for (int i = 0; i < 4; ++i) config->key[i] = static_cast<uint8_t>(hex >> (24 - 8 * i));
    return 1;
}

}  // namespace

const SimOptionInfo kSimOptionTable[] = {
    {"--link", "PATH", "a path", "make this symbolic link to the device's serial line"},
    {"--count", "N", "a number from 1 to 64", "number of devices"},
    {"--link-prefix", "PREFIX", "a path", "with --count: links PREFIX0, PREFIX1, ..."},
    {"--flash-out", "FILE", "a path", "write the device's flash here when it ends (with --count: FILE0, FILE1, ...)"},
    {"--paced", nullptr, "", "move bytes at 19200 baud, like a real line"},
    {"--erase-delay", "MS", "a number from 0 to 600000", "ms from the unlock to the erase ack"},
    {"--program-delay", "MS", "a number from 0 to 600000", "ms before each page ack"},
    {"--adapter-latency", "MS", "a number from 0 to 1000", "answers pass a USB adapter with this latency timer (ms)"},
    {"--stale", "HEX", "pairs of hex digits, 64 bytes at most", "bytes waiting in the line before the first opener"},
    {"--fault", "NAME", "a fault's name", "fault to show"},
    {"--fault-arg", "N", "a number from 0 to 1000000", "message, page, phase, count or byte the fault acts on"},
    {"--sync-faults", "N", "a number from 0 to 1000000", "sync-zero and sync-crc-fail: only the first N syncs, then well"},
    {"--status", "HEX2", "2 hex digits", "answer to the sync byte"},
    {"--platform", "TEXT", "a text", "HW platform of the identity (16 bytes)"},
    {"--hw-version", "TEXT", "a text", "HW version of the identity (8 bytes)"},
    {"--boot-sw", "TEXT", "a text", "BOOT SW version of the identity (8 bytes)"},
    {"--app-name", "TEXT", "a text", "application name (16 bytes)"},
    {"--fw-version", "TEXT", "a text", "application FW version (8 bytes)"},
    {"--boot-value", "HEX4", "4 hex digits", "enter-boot value the application accepts"},
    // --unlock-key as download spells it; --key is the older spelling, kept.
    {"--unlock-key,--key", "HEX8", "8 hex digits", "unlock key the bootloader accepts"},
};
const size_t kSimOptionCount = sizeof kSimOptionTable / sizeof kSimOptionTable[0];

int ApplySimOption(SimOptions* options, const SimOptionInfo& option, const char* value) {
    const std::string name = FirstName(option);
    SimConfig* config = &options->config;
    size_t width;
    if (char* field = TextField(config, name, &width)) {
        SimSetText(field, width, value);
        return 1;
    }
    if (name == "--paced") return config->paced = 1;
    if (name == "--link" || name == "--link-prefix" || name == "--flash-out") {
        std::string& path = name == "--link" ? options->link : name == "--flash-out" ? options->flash_out
                                                                                     : options->link_prefix;
        path = value;
        return 1;
    }
    if (name == "--count") return ParseNumber(value, 1, 64, &options->count);
    if (name == "--erase-delay") return ParseNumber(value, 0, 600000, &config->erase_delay_ms);
    if (name == "--program-delay") return ParseNumber(value, 0, 600000, &config->program_delay_ms);
    if (name == "--adapter-latency") return ParseNumber(value, 0, 1000, &config->adapter_latency_ms);
    if (name == "--fault-arg") return ParseNumber(value, 0, 1000000, &config->fault_arg);
    if (name == "--sync-faults") return ParseNumber(value, 0, 1000000, &config->sync_faults);
    if (name == "--stale") return ParseHexBytes(value, config->stale, sizeof config->stale, &config->stale_length);
    if (name == "--fault") return ParseSimFault(value, &config->fault);
    return ApplyHexOption(config, name, value);
}

int ParseSimArguments(int argc, char** argv, SimOptions* options) {
    for (int i = 0; i < argc; ++i) {
        const SimOptionInfo* option = nullptr;
        for (size_t at = 0; at < kSimOptionCount && !option; ++at)
            if (HasName(kSimOptionTable[at], argv[i])) option = &kSimOptionTable[at];
        if (!option || (option->value && i + 1 >= argc)) {
            std::fprintf(stderr, "unknown option or missing value: %s\n", argv[i]);
            return 0;
        }
        const char* value = option->value ? argv[++i] : nullptr;
        if (ApplySimOption(options, *option, value)) continue;
        std::fprintf(stderr, "bad value for %s: %s (%s)\n", argv[i - 1], value, option->accepts);
        return 0;
    }
    return 1;
}

std::string SimOptionsHelp() {
    std::string help;
    for (size_t at = 0; at < kSimOptionCount; ++at) {
        const SimOptionInfo& option = kSimOptionTable[at];
        std::string usage = "  " + FirstName(option) + (option.value ? std::string(" ") + option.value : "");
        usage.resize(std::max<size_t>(usage.size() + 1, 24), ' ');
        help += usage + option.help + "\n";
    }
    return help;
}
