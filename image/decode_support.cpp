// Small helpers shared by the two image decoders.
#include "image/decode_support.h"

#include <cstdarg>
#include <cstdio>

int LineAt(const uint8_t* text, int32_t position) {
    int line = 1;
    for (int32_t i = 0; i < position; ++i) line += text[i] == '\n';
    return line;
}

int32_t RefuseFile(char* why, size_t why_size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(why, why_size, format, args);
    va_end(args);
    return -1;
}
