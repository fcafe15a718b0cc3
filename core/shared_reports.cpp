// The refusal of an operation while a page transfer runs.
#include "core/shared_reports.h"

#include "core/loader_state.h"

int RefuseDuringTransfer() {
    if (g_loader.transfer_state == 0) return 0;
    ReportOutcome(kOutcomeTransferRunning);
    return 1;
}
