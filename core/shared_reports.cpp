// The common captions and the refusal during a page transfer.
#include "core/shared_reports.h"

#include "core/loader_state.h"

const char kCaptionBoot[] = "BOOT info";
const char kCaptionComPort[] = "COM port info";
const char kCaptionFile[] = "File info";

int RefuseDuringTransfer() {
    if (g_loader.transfer_state == 0) return 0;
    ShowMessage("A download is running; wait until it has finished", kCaptionBoot, IconWarning);
    return 1;
}
