// HW info and Application FW: read the device's identity without writing anything.
#include "boot/boot_common.h"
#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"

void QueryHwInfo() {
    if (RefuseDuringTransfer()) return;
    BeginOutcome();
    const InfoField boot_fields[] = {HwPlatformField, HwVersionField, BootSwVersionField};
    BlankFields(boot_fields, 3, 20);
    if (!OpenPortForOperation()) {
        ReportOutcome(kOutcomePortOpenFailed);
        return;
    }
    EnableButton(HwInfoButton, 0);
    RequestBootMode(g_loader.transmit, g_loader.receive);
    if (SyncAndReadIdentity()) {
        ShowBootIdentity();
        RecordOutcome(kOutcomeOk);
    }
    ClosePort();
    EnableButton(HwInfoButton, 1);
}

void QueryApplicationFw() {
    if (RefuseDuringTransfer()) return;
    BeginOutcome();
    const InfoField app_fields[] = {ApplicationInfoField, FwVersionField};
    BlankFields(app_fields, 2, 30);
    if (!OpenPortForOperation()) {
        ReportOutcome(kOutcomePortOpenFailed);
        return;
    }
    if (ReadApplicationInfo(g_loader.transmit, g_loader.receive)) {
        ShowRecordField(ApplicationInfoField, g_loader.receive + kAppNameOffset, kAppNameWidth);
        ShowRecordField(FwVersionField, g_loader.receive + kAppFwOffset, kAppFwWidth);
        RecordOutcome(kOutcomeOk);
    } else {
        ReportOutcome(kOutcomeAppInfoError);
    }
    ClosePort();
}
