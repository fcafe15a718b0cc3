// A download on one port, retried from the start after failures at the line, each port operation logged.
#include <cstdio>
#include <cstdlib>

#include "boot/boot_control.h"
#include "console/console.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "production/production.h"
#include "production/worker.h"

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

void SelectPort(const std::string& port) {
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "%s", port.c_str());
    AnnouncePort();
}

void ApplyDeviceOverrides(const DeviceOptions& options) {
    if (!options.boot_value.empty())
        g_loader.enter_boot_value = uint16_t(std::strtoul(options.boot_value.c_str(), nullptr, 16));
    if (options.unlock_key.empty()) return;
    const uint32_t key = uint32_t(std::strtoul(options.unlock_key.c_str(), nullptr, 16));
    for (int i = 0; i < 4; ++i) g_loader.unlock_key[i] = uint8_t(key >> (24 - 8 * i));
}

int LoadAndDownload(const DeviceOptions& options, const std::string& file) {
    if (!LoadImageFromPath(file.c_str())) return kExitFailed;
    RefreshInterruptRecord();
    WarnDataBelowFirstOffset();
    return DownloadLoadedImage(options);
}

int DownloadLoadedImage(const DeviceOptions& options) {
    SelectPort(options.port);
    ApplyDeviceOverrides(options);
    InstallInterruptHandler();
    StartLineTrace(options.trace);
    StartDownload();
    if (g_loader.transfer_state == 0) return kExitFailed;
    BeginTransferProgress();
    RefreshInterruptRecord();
    MarkTransferRunning(1);
    while (g_loader.transfer_state != 0) TransferStep();
    EndProgressLine();
    return g_loader.outcome == kOutcomeOk ? kExitOk : kExitFailed;
}

int DownloadWithRetries(const DeviceOptions& options, const std::string& file, const char* operation,
                        int* attempts) {
    const double started = MonotonicSeconds();
    int status = kExitFailed;
    for (*attempts = 1;; ++*attempts) {
        PrepareInterruptRecord({operation, options.port, file, kExitInterrupted, *attempts, 0}, started);
        ReportWorkerEvent({"attempt", {{"number", std::to_string(*attempts)}}});
        // A parent that serves several ports has loaded the image for all of them.
        status = g_loader.image_loaded ? DownloadLoadedImage(options) : LoadAndDownload(options, file);
        if (status == kExitOk || *attempts > options.retries || !OutcomeRetryable(g_loader.outcome)) break;
        std::fprintf(stderr, "%sretry: attempt %d of %d after %s\n", g_console.line_prefix.c_str(), *attempts + 1,
                     options.retries + 1, g_console.last_box.c_str());
        ForgetLastAttempt();
    }
    // A record that could not be written fails the operation: the line would miss a board.
    if (!WriteLogRecord({operation, options.port, file, status, *attempts, MonotonicSeconds() - started}))
        status = kExitFailed;
    MarkTransferRunning(0);
    WarnSlowLine();
    return status;
}
