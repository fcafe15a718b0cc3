// The console's lines besides status and boxes: why a failure happened in the system's terms, refusals,
// the JSON failure, warnings and device texts made safe for a terminal.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/json_output.h"
#include "core/loader_state.h"
#include "image/image_file.h"

namespace {

// Why the file was not read, as its reading recorded it; empty when it was read
// and refused for its contents (the box says why).
std::string FileReason(int error) {
    switch (error) {
    case 0: return "";
    case kFileIsDirectory: return "is a directory";
    case kFileNotRegular: return "is not a regular file";
    case kFileEmpty: return "the file is empty";
    case kFileChanged: return "the file changed while it was read";
    default: return FileErrorText(error);
    }
}

// What the operator expects against what the bootloader sent.
std::string Expected(const char* what, const char* expected, std::string read) {
    read.resize(std::min(read.find('\0'), read.find_last_not_of(' ') + 1));
    return std::string("expected ") + what + " \"" + expected + "\", the bootloader sent \"" + Printable(read) + "\"";
}

// The reason behind the latest outcome, empty when the box says all there is. A line
// lost in the middle has its key in the log and JSON; its box stays the last line.
std::string Reason() {
    switch (g_loader.outcome) {
    case kOutcomeFileRefused: return FileReason(g_loader.system_error);
    case kOutcomePortOpenFailed:
    case kOutcomeReopenFailed: return PortOpenReason(g_loader.port_name, g_loader.system_error);
    case kOutcomeNoSync: return "no answer from the bootloader; is the device powered and in its application?";
    case kOutcomePlatformNotExpected:
        return Expected("HW platform", g_loader.expected_platform, FieldValue(HwPlatformField));
    case kOutcomeHwVersionNotExpected:
        return Expected("HW version", g_loader.expected_hw_version, FieldValue(HwVersionField));
    default: return "";
    }
}

std::string Subject() {
    return g_loader.outcome == kOutcomeFileRefused ? g_console.path : PortLabel(g_loader.port_name);
}

}  // namespace

void ExplainFailure() {
    g_console.last_reason = Reason();
    if (g_console.last_reason.empty()) return;
    std::fprintf(stderr, "%stavboot: %s: %s\n", g_console.line_prefix.c_str(), Subject().c_str(),
                 g_console.last_reason.c_str());
    std::fflush(stderr);
}

int RefusePortName(const std::string& port, bool json) {
    if (port.size() < size_t(kPortNameCapacity)) return 0;
    Refuse(port.substr(0, 40) + "...: the port name is longer than " + std::to_string(kPortNameCapacity - 1) +
               " characters",
           json);
    return 1;
}

int Refuse(const std::string& text, bool json) {
    FailBeforeRun(text, json);
    return kExitUsage;
}

void WarnDataBelowFirstOffset() {
    if (g_loader.data_below_first_offset == 0) return;
    std::fprintf(stderr, "%swarning: %ld bytes of data lie below 0x1000, in the bootloader's area, and are not sent\n",
                 g_console.line_prefix.c_str(), static_cast<long>(g_loader.data_below_first_offset));
}

// Below this the line costs next to nothing (a 2 ms latency timer adds about 1 ms an exchange).
static const uint32_t kSlowLineMs = 5;

void WarnSlowLine() {
    if (g_loader.answer_count == 0 || g_loader.answer_delay_ms < kSlowLineMs) return;
    std::fprintf(stderr, "%stavboot: slow line: the device's answers came %u ms late (median), which cost %.1f s; %s\n",
                 g_console.line_prefix.c_str(), unsigned(g_loader.answer_delay_ms),
                 g_loader.answer_delay_total_ms / 1000, SlowLineAdvice(g_loader.port_name).c_str());
}

void AnnouncePort() {
    if (g_console.stderr_is_terminal) std::fprintf(stderr, "tavboot: port %s\n", PortLabel(g_loader.port_name).c_str());
}

std::string Printable(const std::string& text) {
    std::string shown;
    for (const char letter : text) {
        const unsigned char c = static_cast<unsigned char>(letter);
        if (c >= 0x20 && c < 0x7F) {
            shown += char(c);
            continue;
        }
        if (c >= 0xA0) {  // a letter of the device's own code page, shown as the character of its number
            shown += DeviceTextUtf8(std::string(1, char(c)));
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        shown += escaped;
    }
    return shown;
}

int FailBeforeRun(const std::string& text, bool json) {
    std::fprintf(stderr, "tavboot: %s\n", text.c_str());
    if (json) PrintJsonValue({{"ok", false}, {"message", text}});
    return kExitFailed;
}

int PrintJsonFailure(bool json, int status) {
    if (!json) return status;
    nlohmann::json out = {{"ok", false}, {"message", g_console.last_box}, {"outcome", OutcomeKey(g_loader.outcome)}};
    if (!g_console.last_reason.empty()) out["reason"] = g_console.last_reason;
    PrintJsonValue(out);
    return status;
}

int FinishOutput(int status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "tavboot: standard output: the result could not be written (%s)\n", std::strerror(errno));
    return status == kExitOk ? kExitFailed : status;
}
