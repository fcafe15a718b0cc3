// DownLoad: drives the device from its application into an unlocked, erased bootloader.
#include <cstdio>

#include "boot/boot_common.h"
#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "image/compatibility.h"
#include "link/device_commands.h"
#include "link/serial.h"

namespace {

const char kBaud[] = "19200";

// The page transfer reads whole pages from offset 4096 on; outside these lengths
// it would wrap or run past the image buffer.
int RefuseLengthOutsidePages() {
    if (g_loader.image_length >= kMinDownloadLength && g_loader.image_length <= kMaxDownloadLength) return 0;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Image length %ld bytes cannot be downloaded: it must lie between 4096 and 259071 bytes",
                  static_cast<long>(g_loader.image_length));
    ReportOutcomeText(kOutcomeLengthOutsidePages, text);
    return 1;
}

void EndStartFailed() {
    EnableButton(DownLoadButton, 1);
    ClosePort();
}

int UnlockAndReopen() {
    g_loader.last_reply = static_cast<uint8_t>(
        UnlockBootloader(g_loader.transmit, g_loader.receive, g_loader.type_letter));
    if (g_loader.last_reply != 1) {
        ReportOutcome(kOutcomeUnlockRefused);
        EndStartFailed();
        return 0;
    }
    SetStatusText(" BOOTLoader actived ");
    ClosePort();
    // The erase answer may already wait: the receive queue is kept.
    if (!ReopenPort(g_loader.port_name, kBaud, kLongReadTimeoutMs)) {
        ReportOutcome(kOutcomeReopenFailed);
        EnableButton(DownLoadButton, 1);
        return 0;
    }
    return 1;
}

// The transfer owns the port and the image from now on.
void HandOverToTransfer() {
    SetStatusText("BOOT device: erase finished");
    EnableButton(OpenFileButton, 0);
    EnableButton(HwInfoButton, 0);
    EnableButton(ApplicationFwButton, 0);
    g_loader.transfer_state = 1;
}

}  // namespace

void StartDownload() {
    if (RefuseDuringTransfer()) return;
    BeginOutcome();
    const InfoField boot_fields[] = {HwPlatformField, HwVersionField, BootSwVersionField};
    BlankFields(boot_fields, 3, 30);
    if (!g_loader.image_loaded) {
        ReportOutcome(kOutcomeNoFile);
        return;
    }
    if (RefuseLengthOutsidePages()) return;
    if (!OpenPortForOperation()) {
        ReportOutcome(kOutcomePortOpenFailed);
        return;
    }
    EnableButton(DownLoadButton, 0);
    RequestBootMode(g_loader.transmit, g_loader.receive);
    if (!SyncAndReadIdentity()) return EndStartFailed();
    ShowBootIdentity();
    if (g_loader.type_letter == 't' && !CheckImageCompatibility()) return;
    if (!CheckExpectedIdentity()) return;
    if (!UnlockAndReopen()) return;
    g_loader.last_reply = static_cast<uint8_t>(ReadAcknowledge(g_loader.receive));
    if (g_loader.last_reply != 1) {
        ReportOutcome(kOutcomeEraseFailed);
        return EndStartFailed();
    }
    HandOverToTransfer();
}
