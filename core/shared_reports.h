// Reports that more than one room shows: the refusal of an operation while a page
// transfer runs. Boxes and status texts come from the outcome table.
#pragma once

#include "core/operator_ui.h"
#include "core/outcome.h"

// While a page transfer runs it owns the port and the image: other operations are
// refused with a warning box. Returns 1 when the caller must stop.
int RefuseDuringTransfer();
