// Page transfer: one step per timer tick, a data message or a page check at a time.
#include <cstdio>

#include "boot/boot_common.h"
#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"

namespace {

// Transfer states.
enum : uint8_t { kIdle = 0, kPrepare = 1, kSendMessage = 2, kCheckPage = 3 };

// Every end releases the port and the buttons before anything is shown, so ticks
// arriving while the final box is open find the transfer idle.
void EndTransfer() {
    ClosePort();
    EnableButton(DownLoadButton, 1);
    EnableButton(OpenFileButton, 1);
    EnableButton(HwInfoButton, 1);
    EnableButton(ApplicationFwButton, 1);
    g_loader.transfer_state = kIdle;
}

void PrepareTransfer() {
    const uint32_t above_first_page = static_cast<uint32_t>(g_loader.image_length) - kImageFirstOffset;
    g_loader.pages_remaining = (above_first_page >> 10) + 1;
    g_loader.message_countdown = kMessagesPerPage;
    g_loader.page_number = 0;
    g_loader.send_position = kImageFirstOffset;
    g_loader.transfer_state = kSendMessage;
}

void SendNextMessage() {
    const uint8_t* bytes = g_loader.image + g_loader.send_position;
    g_loader.send_position += kMessageDataSize;
    g_loader.last_reply = static_cast<uint8_t>(SendDataMessage(g_loader.transmit, g_loader.receive, bytes));
    if (g_loader.last_reply != 1) {
        EndTransfer();
        ReportOutcome(kOutcomeMessageFailed);
        return;
    }
    if (--g_loader.message_countdown != 0) return;
    g_loader.message_countdown = kMessagesPerPage;
    const int last_page = g_loader.pages_remaining == 1;
    g_loader.last_reply = static_cast<uint8_t>(last_page ? ReadLastPageAcknowledge(g_loader.receive)
                                                         : ReadAcknowledge(g_loader.receive));
    g_loader.transfer_state = kCheckPage;
}

void CheckPage() {
    if (g_loader.last_reply != 1) {
        EndTransfer();
        ReportOutcome(kOutcomePageFailed);
        return;
    }
    char text[40];
    std::snprintf(text, sizeof text, " BOOTLoader, Write page %u", unsigned(g_loader.page_number));
    ++g_loader.page_number;
    SetStatusText(text);
    if (--g_loader.pages_remaining != 0) {
        g_loader.transfer_state = kSendMessage;
        return;
    }
    EndTransfer();
    ReportOutcome(kOutcomeOk);
}

}  // namespace

void TransferStep() {
    switch (g_loader.transfer_state) {
    case kPrepare: return PrepareTransfer();
    case kSendMessage: return SendNextMessage();
    case kCheckPage: return CheckPage();
    default: return;
    }
}
