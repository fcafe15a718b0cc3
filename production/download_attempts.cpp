// A download on one port, retried from the start after failures at the line, each port operation logged.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "boot/boot_common.h"
#include "boot/boot_control.h"
#include "console/console.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/device_commands.h"
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

// A text field of a device's record: up to its first zero byte, without trailing blanks.
std::string RecordText(const uint8_t* field, int width) {
    std::string text(reinterpret_cast<const char*>(field), size_t(width));
    text.resize(std::min(text.find('\0'), text.find_last_not_of(' ') + 1));
    return text;
}

}  // namespace

void SelectPort(const std::string& port) {
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "%s", port.c_str());
    AnnouncePort();
}

void ApplyDeviceOverrides(const DeviceOptions& options) {
    std::snprintf(g_loader.expected_platform, sizeof g_loader.expected_platform, "%s", options.expect_platform.c_str());
    std::snprintf(g_loader.expected_hw_version, sizeof g_loader.expected_hw_version, "%s",
                  options.expect_hw_version.c_str());
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

bool operator==(const AppIdentity& a, const AppIdentity& b) { return a.name == b.name && a.fw_version == b.fw_version; }

int ReadRunningApplication(const std::string& port, AppIdentity* identity, int* busy) {
    *busy = 0;
    if (!OpenPort(port.c_str(), "19200", kShortReadTimeoutMs)) {
        *busy = g_loader.port_open_error == EBUSY || g_loader.port_open_error == EWOULDBLOCK;
        return 0;
    }
    ClearReceiveQueue();  // bytes left on the line are no answer
    const int answered = ReadApplicationInfo(g_loader.transmit, g_loader.receive);
    if (answered) {
        identity->name = RecordText(g_loader.receive + kAppNameOffset, kAppNameWidth);
        identity->fw_version = RecordText(g_loader.receive + kAppFwOffset, kAppFwWidth);
    }
    ClosePort();
    return answered;
}

static AppIdentity g_verified;  // what VerifyApplicationStarted read last

const AppIdentity& VerifiedApplication() { return g_verified; }

int VerifyApplicationStarted(const std::string& port, double seconds) {
    const double deadline = MonotonicSeconds() + seconds;
    g_verified = AppIdentity();
    AppIdentity identity;
    int busy = 0;
    while (!ReadRunningApplication(port, &identity, &busy)) {
        // An interrupt here ends the wait, not the finished download.
        if (InterruptRequested()) return 1;
        if (MonotonicSeconds() >= deadline) {
            SetResultNote("application did not start");
            std::fprintf(stderr, "%sapplication did not start within %g s\n", g_console.line_prefix.c_str(), seconds);
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    g_verified = identity;
    ShowRecordField(ApplicationInfoField, g_loader.receive + kAppNameOffset, kAppNameWidth);
    ShowRecordField(FwVersionField, g_loader.receive + kAppFwOffset, kAppFwWidth);
    std::fprintf(stderr, "%sapplication: %s, %s\n", g_console.line_prefix.c_str(), FieldValue(ApplicationInfoField).c_str(),
                 FieldValue(FwVersionField).c_str());
    return 1;
}

static std::function<void(int)> g_attempt_listener;

void SetAttemptListener(std::function<void(int attempt)> listener) { g_attempt_listener = std::move(listener); }

int DownloadWithRetries(const DeviceOptions& options, const std::string& file, const char* operation,
                        int* attempts) {
    const double started = MonotonicSeconds();
    int status = kExitFailed;
    for (*attempts = 1;; ++*attempts) {
        PrepareInterruptRecord({operation, options.port, file, kExitInterrupted, *attempts, 0}, started);
        ReportWorkerEvent({"attempt", {{"number", std::to_string(*attempts)}}});
        if (g_attempt_listener) {
            HoldInterrupts(1);
            g_attempt_listener(*attempts);
            HoldInterrupts(0);
        }
        // A parent that serves several ports has loaded the image for all of them.
        status = g_loader.image_loaded ? DownloadLoadedImage(options) : LoadAndDownload(options, file);
        if (status == kExitOk || *attempts > options.retries || !OutcomeRetryable(g_loader.outcome)) break;
        std::fprintf(stderr, "%sretry: attempt %d of %d after %s\n", g_console.line_prefix.c_str(), *attempts + 1,
                     options.retries + 1, g_console.last_box.c_str());
        ReportWorkerEvent({"retry",
                           {{"attempt", std::to_string(*attempts + 1)}, {"of", std::to_string(options.retries + 1)},
                            {"after", g_console.last_box}, {"outcome", OutcomeKey(g_loader.outcome)}}});
        ForgetLastAttempt();
    }
    if (status == kExitOk && options.verify_app > 0 && !VerifyApplicationStarted(options.port, options.verify_app))
        status = kExitFailed;
    // A record that could not be written fails the operation: the line would miss a board.
    if (!WriteLogRecord({operation, options.port, file, status, *attempts, MonotonicSeconds() - started}))
        status = kExitFailed;
    MarkTransferRunning(0);
    WarnSlowLine();
    return status;
}
