// The one table of outcomes: stable key, box, status text and whether a second try can help.
#include "core/outcome.h"

#include <cstring>

#include "core/loader_state.h"
#include "core/operator_ui.h"

namespace {

const char kCaptionBoot[] = "BOOT info";
const char kCaptionComPort[] = "COM port info";
const char kCaptionFile[] = "File info";
const char kCaptionFileError[] = "File Error";

struct OutcomeRow {
    const char* key;
    const char* text;     // box text; nullptr: no box of its own, or the caller gives it
    const char* caption;
    MessageIcon icon;
    const char* status;   // nullptr: the status line keeps its text
    bool status_first;    // the page transfer sets its status before the box
    bool retryable;       // a second try of the download can help
    bool at_line;         // judged on the device's answers: a lost line makes it kOutcomeLineLost
};

// Indexed by Outcome; the texts are the window's own, blanks included.
const OutcomeRow kRows[] = {
    {"none", nullptr, nullptr, IconError, nullptr, false, false, false},
    {"ok", "Boot successful finished", kCaptionBoot, IconInformation, "BOOT successful finished ;-) ", true, false,
     false},
    {"transfer_running", "A download is running; wait until it has finished", kCaptionBoot, IconWarning, nullptr,
     false, false, false},
    {"no_file", "File is not selected, select file please", kCaptionFile, IconWarning, nullptr, false, false, false},
    {"file_refused", nullptr, kCaptionFileError, IconError, nullptr, false, false, false},
    {"length_outside_pages", nullptr, kCaptionFile, IconError, nullptr, false, false, false},
    {"port_open_failed", "COM open error", kCaptionComPort, IconError, nullptr, false, false, false},
    {"no_sync", "Boot sequence error", kCaptionBoot, IconError, "BOOT sequence unactive", false, true, true},
    {"boot_crc_fail", "Bootloader CRC fail, data in device memory is corrupted", kCaptionBoot, IconError,
     "Bootloader CRC fail", false, true, true},
    {"identity_error", "Boot constant strings error", kCaptionBoot, IconError, "BOOT constant strings Error", false,
     true, true},
    {"hardware_mismatch", "HW is uncompatible with selected SW image File", kCaptionBoot, IconError,
     "HW is uncompatible with SW image File", false, false, false},
    {"unlock_refused", "Boot safety keys error", kCaptionBoot, IconError, "BOOT safety key Error", false, false,
     true},
    {"reopen_failed", "COM reopen error", kCaptionComPort, IconError, nullptr, false, true, false},
    {"erase_failed", "BOOT device: FLASH erase error", kCaptionBoot, IconError, nullptr, false, true, true},
    {"message_failed", "Boot communication error", kCaptionBoot, IconError, "BOOT message failed", true, true, true},
    {"page_failed", "Boot write to Flash error", kCaptionBoot, IconError, "BOOT Page failed", true, true, true},
    {"app_info_error", "Application info read error", kCaptionBoot, IconError, "BOOT application info Error", false,
     true, true},
    {"interrupted", nullptr, nullptr, IconError, nullptr, false, false, false},
    // The adapter is gone: a second try would only fail to open the port.
    {"line_lost", nullptr, nullptr, IconError, nullptr, false, false, false},
    {"hw_version_mismatch", "HW version is uncompatible with selected SW image File", kCaptionBoot, IconError,
     "HW version is uncompatible with SW image File", false, false, false},
    // The wrong board refused as a memory image refuses it: the same box and status, never retried.
    {"platform_not_expected", "HW is uncompatible with selected SW image File", kCaptionBoot, IconError,
     "HW is uncompatible with SW image File", false, false, false},
    {"hw_version_not_expected", "HW version is uncompatible with selected SW image File", kCaptionBoot, IconError,
     "HW version is uncompatible with SW image File", false, false, false},
};
static_assert(sizeof kRows / sizeof kRows[0] == kOutcomeCount, "one row for every outcome");

const OutcomeRow& Row(Outcome outcome) {
    return kRows[outcome < kOutcomeCount ? outcome : kOutcomeNone];
}

int LineLost() {
    return g_loader.line_event == kLineHangUp || g_loader.line_event == kLineIoError;
}

}  // namespace

const char* OutcomeKey(Outcome outcome) {
    return Row(outcome).key;
}

Outcome OutcomeFromKey(const char* key) {
    for (int i = 0; i < kOutcomeCount; ++i)
        if (std::strcmp(kRows[i].key, key) == 0) return static_cast<Outcome>(i);
    return kOutcomeCount;
}

int OutcomeRetryable(Outcome outcome) {
    return Row(outcome).retryable;
}

void BeginOutcome() {
    g_loader.outcome = kOutcomeNone;
    g_loader.line_event = kLineOk;
    g_loader.system_error = 0;
}

void RecordOutcome(Outcome outcome) {
    g_loader.outcome = Row(outcome).at_line && LineLost() ? kOutcomeLineLost : outcome;
}

void ReportOutcomeText(Outcome outcome, const char* text) {
    RecordOutcome(outcome);
    const OutcomeRow& row = Row(outcome);
    if (row.status_first && row.status) SetStatusText(row.status);
    if (text && row.caption) ShowMessage(text, row.caption, row.icon);
    if (!row.status_first && row.status) SetStatusText(row.status);
}

void ReportOutcome(Outcome outcome) {
    ReportOutcomeText(outcome, Row(outcome).text);
}
