// Memory image (.tvk) decoder: header fields at 15 and 33, data pairs from 43 to "L".
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/decode_support.h"

enum : int32_t {
    kHeaderPlatformOffset = 15,
    kHeaderVersionOffset = 33,
    kMemoryImageDataOffset = 43,
};

// Checks raw[0..raw_length) and decodes its data into image (cleared wholly first).
// Returns the number of bytes decoded, or -1 with the reason in why when the file
// is refused; a refused file leaves image untouched.
int32_t DecodeMemoryImage(const uint8_t* raw, int32_t raw_length, uint8_t* image,
                          char* why, size_t why_size);

// Where a decoded memory image's data lies. The format has no addresses, so its
// first 4096 bytes stand for the bootloader's area: zeros there are placeholders,
// not data.
DataSpan MemoryImageSpan(const uint8_t* image, int32_t length);
