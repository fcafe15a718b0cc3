// Compatibility check of a memory image's header against the boot identity record.
#pragma once
#include <cstdint>

// Pure comparison: 0 fits, 1 platform mismatch, 2 version mismatch. Reads at most
// raw_length bytes of raw and the 32 bytes of identity; a comparison that would
// go past either counts as a mismatch.
int CompareImageHeader(const uint8_t* raw, int32_t raw_length, const uint8_t* identity);

// Compares the identity in g_loader's receive buffer with the platform and version the operator
// expects (when given). Nonzero when it is the one; on 0 as CheckImageCompatibility.
int CheckExpectedIdentity();

// Compares g_loader's raw file with its receive buffer. Nonzero when the image fits;
// on 0 the mismatch is reported, DownLoad enabled and the port closed.
int CheckImageCompatibility();
