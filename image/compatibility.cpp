// Compatibility check: a memory image's header fields against the boot identity record.
#include "image/compatibility.h"

#include <string>

#include "core/loader_state.h"
#include "core/shared_reports.h"
#include "image/memory_image.h"
#include "link/device_commands.h"
#include "link/serial.h"

namespace {

enum : int { kFits = 0, kPlatformMismatch = 1, kVersionMismatch = 2 };

// A field fits when it is a prefix of the record from record_index on; it ends at
// either terminator. Running past the file or the record counts as a mismatch.
int FieldFits(const uint8_t* raw, int32_t raw_length, int32_t position, const uint8_t* identity,
              int record_index, uint8_t terminator) {
    for (;; ++position, ++record_index) {
        if (position >= raw_length || record_index >= kReceiveSize) return 0;
        const uint8_t c = raw[position];
        if (c == '\r' || c == terminator) return 1;
        if (c != identity[record_index]) return 0;
    }
}

}  // namespace

int CompareImageHeader(const uint8_t* raw, int32_t raw_length, const uint8_t* identity) {
    if (!FieldFits(raw, raw_length, kHeaderPlatformOffset, identity, 0, ' ')) return kPlatformMismatch;
    if (!FieldFits(raw, raw_length, kHeaderVersionOffset, identity, 16, 'x')) return kVersionMismatch;
    return kFits;
}

namespace {

// A field of the identity record as text: up to its first zero byte, trailing blanks dropped.
std::string IdentityText(const uint8_t* field, int width) {
    std::string text(reinterpret_cast<const char*>(field), size_t(width));
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    text.resize(text.find_last_not_of(' ') + 1);
    return text;
}

}  // namespace

int CheckExpectedIdentity() {
    const char* platform = g_loader.expected_platform;
    const char* version = g_loader.expected_hw_version;
    Outcome refused = kOutcomeNone;
    if (*platform && IdentityText(g_loader.receive + kIdPlatformOffset, kIdPlatformWidth) != platform)
        refused = kOutcomePlatformNotExpected;
    else if (*version && IdentityText(g_loader.receive + kIdHwVersionOffset, kIdHwVersionWidth) != version)
        refused = kOutcomeHwVersionNotExpected;
    if (refused == kOutcomeNone) return 1;
    ReportOutcome(refused);
    EnableButton(DownLoadButton, 1);
    ClosePort();
    return 0;
}

int CheckImageCompatibility() {
    const int fit = CompareImageHeader(g_loader.raw_file, g_loader.raw_file_length, g_loader.receive);
    if (fit == kFits) return 1;
    ReportOutcome(fit == kPlatformMismatch ? kOutcomeHardwareMismatch : kOutcomeHwVersionMismatch);
    EnableButton(DownLoadButton, 1);
    ClosePort();
    return 0;
}
