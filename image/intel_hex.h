// Intel HEX decoder and the hex pair decoder shared with the memory image decoder.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/decode_support.h"

// Two ASCII hex digits (upper or lower case) to one byte, first digit high.
uint8_t DecodeHexPair(uint8_t first, uint8_t second);

// 1 when c is one of 0-9, A-F, a-f.
int IsHexDigit(uint8_t c);

// Checks raw[0..raw_length) and decodes it into image (cleared wholly first).
// Returns the end offset of the highest data record, whatever the records' order,
// or -1 with the reason in why when the file is refused (a data record after the
// end-of-file record too: a joined file); a refused file leaves image untouched.
// span, when given, receives where the data lies.
int32_t DecodeIntelHex(const uint8_t* raw, int32_t raw_length, uint8_t* image,
                       char* why, size_t why_size, DataSpan* span = nullptr);
