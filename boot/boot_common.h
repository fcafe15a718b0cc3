// Helpers shared by the boot control operations and the file loading.
#pragma once
#include <cstdint>

#include "boot/operator_ui.h"

// Texts that more than one operation shows.
extern const char kCaptionBoot[];     // "BOOT info"
extern const char kCaptionComPort[];  // "COM port info"
extern const char kCaptionFile[];     // "File info"

// While a page transfer runs it owns the port and the image: other operations are
// refused with a warning box. Returns 1 when the caller must stop.
int RefuseDuringTransfer();

// Shows record[0..width) behind two blanks, up to the first zero byte.
void ShowRecordField(InfoField field, const uint8_t* record, int width);

// Sets each of the given fields to count blanks.
void BlankFields(const InfoField* fields, int field_count, int blank_count);

// The sync and identity exchanges shared by DownLoad and HW info, with their
// reports. On failure the box and status text are shown and 0 is returned; the
// caller then closes the port and enables its button.
int SyncAndReadIdentity();

// Shows the three boot identity fields from the receive buffer.
void ShowBootIdentity();
