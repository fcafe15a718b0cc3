// Reports that more than one room shows: the common captions and the refusal
// of an operation while a page transfer runs.
#pragma once

#include "core/operator_ui.h"

extern const char kCaptionBoot[];     // "BOOT info"
extern const char kCaptionComPort[];  // "COM port info"
extern const char kCaptionFile[];     // "File info"

// While a page transfer runs it owns the port and the image: other operations are
// refused with a warning box. Returns 1 when the caller must stop.
int RefuseDuringTransfer();
