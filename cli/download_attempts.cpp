// Downloads retried from the start after failures at the line, each port operation logged.
#include "cli/download_attempts.h"

#include <cstdio>

#include "cli/console_ui.h"
#include "cli/run_log.h"
#include "core/loader_state.h"
#include "link/serial.h"

namespace {

// Every attempt starts afresh with the image already loaded: no port, no box shown.
void ForgetLastAttempt() {
    ClosePort();
    const int terminal = g_console.stderr_is_terminal;
    const std::string prefix = g_console.line_prefix;
    g_console = ConsoleState();
    g_console.stderr_is_terminal = terminal;
    g_console.line_prefix = prefix;
}

}  // namespace

int IsRetryableFailure(const std::string& box) {
    static const char* const kAtTheLine[] = {
        "BOOT info: Boot sequence error",
        "BOOT info: Bootloader CRC fail, data in device memory is corrupted",
        "BOOT info: Boot constant strings error",
        "BOOT info: BOOT device: FLASH erase error",
        "BOOT info: Boot communication error",
        "BOOT info: Boot write to Flash error",
        "COM port info: COM reopen error",
    };
    for (const char* failure : kAtTheLine)
        if (box == failure) return 1;
    return 0;
}

int DownloadWithRetries(const DeviceOptions& options, const std::string& file, const char* operation,
                        int* attempts) {
    const double started = MonotonicSeconds();
    int status = kExitFailed;
    for (*attempts = 1;; ++*attempts) {
        PrepareInterruptRecord({operation, options.port, file, kExitInterrupted, *attempts, 0}, started);
        // A parent that serves several ports has loaded the image for all of them.
        status = g_loader.image_loaded ? RunLoadedDownload(options) : RunDownload(options, file);
        if (status == kExitOk || *attempts > options.retries || !IsRetryableFailure(g_console.last_box)) break;
        std::fprintf(stderr, "%sretry: attempt %d of %d after %s\n", g_console.line_prefix.c_str(), *attempts + 1,
                     options.retries + 1, g_console.last_box.c_str());
        ForgetLastAttempt();
    }
    WriteLogRecord({operation, options.port, file, status, *attempts, MonotonicSeconds() - started});
    return status;
}
