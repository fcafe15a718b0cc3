// Compatibility check: a memory image's header fields against the boot identity record.
#include "image/compatibility.h"

#include "core/loader_state.h"
#include "core/shared_reports.h"
#include "image/memory_image.h"
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

int CheckImageCompatibility() {
    const int fit = CompareImageHeader(g_loader.raw_file, g_loader.raw_file_length, g_loader.receive);
    if (fit == kFits) return 1;
    ReportOutcome(fit == kPlatformMismatch ? kOutcomeHardwareMismatch : kOutcomeHwVersionMismatch);
    EnableButton(DownLoadButton, 1);
    ClosePort();
    return 0;
}
