// Helpers shared by the boot control operations.
#include "boot/boot_common.h"

#include <cstring>

#include "core/loader_state.h"
#include "link/answer_delay.h"
#include "link/device_commands.h"
#include "link/serial.h"

int OpenPortForOperation() {
    if (!ReopenPort(g_loader.port_name, "19200", kShortReadTimeoutMs)) return 0;
    ClearReceiveQueue();
    ForgetAnswerDelays();
    return 1;
}

void ShowRecordField(InfoField field, const uint8_t* record, int width) {
    char text[2 + kReceiveSize + 1] = "  ";
    std::memcpy(text + 2, record, static_cast<size_t>(width));
    text[2 + width] = '\0';
    SetInfoField(field, text);
}

void BlankFields(const InfoField* fields, int field_count, int blank_count) {
    char blanks[64];
    std::memset(blanks, ' ', static_cast<size_t>(blank_count));
    blanks[blank_count] = '\0';
    for (int i = 0; i < field_count; ++i) SetInfoField(fields[i], blanks);
}

int SyncAndReadIdentity() {
    g_loader.last_reply = SyncBootloader(g_loader.transmit);
    if (g_loader.last_reply == 0) {
        ReportOutcome(kOutcomeNoSync);
        return 0;
    }
    if (g_loader.last_reply == kStatusCrcFailure) {
        ReportOutcome(kOutcomeBootCrcFail);
        return 0;
    }
    SetStatusText("Bootloader CRC is correct");
    g_loader.last_reply = static_cast<uint8_t>(ReadBootIdentity(g_loader.receive));
    if (g_loader.last_reply != 1) {
        ReportOutcome(kOutcomeIdentityError);
        return 0;
    }
    return 1;
}

void ShowBootIdentity() {
    ShowRecordField(HwPlatformField, g_loader.receive + kIdPlatformOffset, kIdPlatformWidth);
    ShowRecordField(HwVersionField, g_loader.receive + kIdHwVersionOffset, kIdHwVersionWidth);
    ShowRecordField(BootSwVersionField, g_loader.receive + kIdBootSwOffset, kIdBootSwWidth);
}
