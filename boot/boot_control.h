// Boot control: the operator's device operations.
#pragma once

// DownLoad: the start sequence up to the erase acknowledgement; on success the
// port stays open and the transfer state is 1.
void StartDownload();

// One timer tick of the page transfer; nothing while the transfer state is 0.
void TransferStep();

// HW info: enter boot mode, sync, read and show the boot identity.
void QueryHwInfo();

// Application FW: read and show the application's name and FW version.
void QueryApplicationFw();
