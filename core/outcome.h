// What an operation came to: recorded where it happened, read by every front end instead of texts.
#pragma once
#include <cstdint>

// The end of the latest operation (file load, download start, page transfer, HW info,
// Application FW). Keys and numbers are part of the worker protocol and the log: only
// ever add at the end.
enum Outcome : uint8_t {
    kOutcomeNone = 0,           // nothing has ended yet (an operation is running or none ran)
    kOutcomeOk,                 // the download finished ("Boot successful finished") or the query read
    kOutcomeTransferRunning,    // refused: a page transfer owns the port and the image
    kOutcomeNoFile,             // no image loaded
    kOutcomeFileRefused,        // the file could not be read (why in system_error) or decoded
    kOutcomeLengthOutsidePages, // the image's length cannot be sent as whole pages
    kOutcomePortOpenFailed,     // the port did not open (system's reason in system_error)
    kOutcomeNoSync,             // the bootloader never answered the sync polls
    kOutcomeBootCrcFail,        // the bootloader reports its own CRC failure
    kOutcomeIdentityError,      // the identity record did not arrive whole
    kOutcomeHardwareMismatch,   // a memory image's HW platform does not match
    kOutcomeUnlockRefused,      // the bootloader refused the unlock key
    kOutcomeReopenFailed,       // the port did not open again after the unlock
    kOutcomeEraseFailed,        // no or wrong erase acknowledgement
    kOutcomeMessageFailed,      // a data message was not acknowledged
    kOutcomePageFailed,         // a page was not acknowledged as written
    kOutcomeAppInfoError,       // the application did not answer its information request
    kOutcomeInterrupted,        // stopped by the operator (Ctrl-C) or a termination request
    kOutcomeLineLost,           // the line hung up or failed during an exchange (adapter pulled out):
                                // shown with the box of the exchange; line_event says which, and
                                // system_error holds the system's error when it reported one
    kOutcomeHwVersionMismatch,  // a memory image's HW version does not match
    kOutcomePlatformNotExpected,   // the HW platform is not the one the operator expects
    kOutcomeHwVersionNotExpected,  // the HW version is not the one the operator expects
    kOutcomeCount
};

// How the line behaved in the exchange that failed, recorded by ReadPort/WritePort.
enum LineEvent : uint8_t {
    kLineOk = 0,     // every byte asked for arrived / was written
    kLineTimeOut,    // the read's time ran out
    kLineHangUp,     // the line went away (adapter pulled out, pty closed)
    kLineIoError,    // the system reported an error (errno / GetLastError in system_error)
};

// Stable machine name ("ok", "no_sync", ...), for the worker protocol, JSON and the log.
const char* OutcomeKey(Outcome outcome);
// The outcome named by key; kOutcomeCount when none is.
Outcome OutcomeFromKey(const char* key);
// 1 when a second try of the same download can help (a failure at the line).
int OutcomeRetryable(Outcome outcome);

// Every operation begins with no outcome, the line as good and no system error.
void BeginOutcome();
// Records the outcome of an operation that shows nothing for it (a query that read
// its answer, a loaded file).
void RecordOutcome(Outcome outcome);
// Records outcome and shows its box and status text, in their order, from the one
// table of reports (core/outcome.cpp). A failure judged on the device's answers is recorded as
// kOutcomeLineLost when the line was lost, and still shows its own box.
void ReportOutcome(Outcome outcome);
// The same, with the box text given by the caller (a decoder's reason, a length).
void ReportOutcomeText(Outcome outcome, const char* text);
