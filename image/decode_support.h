// Small helpers shared by the two image decoders.
#pragma once
#include <cstddef>
#include <cstdint>

// Line number (from 1) of the character at position in text.
int LineAt(const uint8_t* text, int32_t position);

// Formats the refusal reason into why and returns -1, the decoders' refusal result.
int32_t RefuseFile(char* why, size_t why_size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Where a decoded file put its data.
struct DataSpan {
    int32_t lowest;              // lowest address that carries data, -1 when none
    int32_t end;                 // one past the highest address that carries data
    int32_t below_first_offset;  // bytes of data below kImageFirstOffset (never sent)
};
