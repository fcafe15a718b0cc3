// Helpers shared by the boot control operations.
#pragma once
#include <cstdint>

#include "core/shared_reports.h"

// Shows record[0..width) behind two blanks, up to the first zero byte.
void ShowRecordField(InfoField field, const uint8_t* record, int width);

// Opens the port named in the loader state with the short read time-out and
// drops input older than the operation (a device that babbled, an answer to an
// interrupted earlier run). Returns 0 when the port cannot be opened.
int OpenPortForOperation();

// Sets each of the given fields to count blanks.
void BlankFields(const InfoField* fields, int field_count, int blank_count);

// The sync and identity exchanges shared by DownLoad and HW info, with their
// reports. On failure the box and status text are shown and 0 is returned; the
// caller then closes the port and enables its button.
int SyncAndReadIdentity();

// Shows the three boot identity fields from the receive buffer.
void ShowBootIdentity();
