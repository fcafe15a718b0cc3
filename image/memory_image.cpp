// Memory image (.tvk) decoder: checks the data first, then decodes it into the image buffer.
#include "image/memory_image.h"

#include <cstring>

#include "core/loader_state.h"
#include "image/decode_support.h"
#include "image/intel_hex.h"

namespace {

struct TvkWalk {
    const uint8_t* raw;
    int32_t length;
    uint8_t* image;  // null while only checking
    char* why;
    size_t why_size;
};

int32_t RefuseAt(const TvkWalk& walk, int32_t at, const char* what) {
    return RefuseFile(walk.why, walk.why_size, "Memory image line %d: %s", LineAt(walk.raw, at), what);
}

int32_t RefuseNoEnd(const TvkWalk& walk) {
    return RefuseFile(walk.why, walk.why_size, "Memory image has no end marker \"L\"");
}

// Takes the character where a pair begins, stepping over one CR LF line break.
// Returns its position, or -1 after a refusal.
int32_t PairStart(const TvkWalk& walk, int32_t pos) {
    if (pos >= walk.length) return RefuseNoEnd(walk);
    if (walk.raw[pos] == '\n') return RefuseAt(walk, pos, "line does not end in CR LF");
    if (walk.raw[pos] != '\r') return pos;
    if (pos + 1 >= walk.length || walk.raw[pos + 1] != '\n')
        return RefuseAt(walk, pos, "line does not end in CR LF");
    if (pos + 2 >= walk.length) return RefuseNoEnd(walk);
    return pos + 2;
}

int32_t WalkPairs(const TvkWalk& walk) {
    int32_t count = 0;
    int32_t pos = kMemoryImageDataOffset;
    for (;;) {
        pos = PairStart(walk, pos);
        if (pos < 0) return -1;
        if (walk.raw[pos] == 'L') return count;
        if (pos + 1 >= walk.length) return RefuseNoEnd(walk);
        const uint8_t high = walk.raw[pos];
        const uint8_t low = walk.raw[pos + 1];
        if (!IsHexDigit(high) || !IsHexDigit(low)) return RefuseAt(walk, pos, "not a hex digit");
        if (count >= kImageCapacity)
            return RefuseFile(walk.why, walk.why_size, "Memory image holds more than 260000 bytes");
        if (walk.image) walk.image[count] = DecodeHexPair(high, low);
        ++count;
        pos += 2;
    }
}

}  // namespace

int32_t DecodeMemoryImage(const uint8_t* raw, int32_t raw_length, uint8_t* image,
                          char* why, size_t why_size) {
    if (raw_length <= kMemoryImageDataOffset)
        return RefuseFile(why, why_size, "Memory image is too short (%d bytes, at least 44 needed)",
                          raw_length);
    const TvkWalk check{raw, raw_length, nullptr, why, why_size};
    if (WalkPairs(check) < 0) return -1;
    std::memset(image, 0, kImageCapacity);
    const TvkWalk decode{raw, raw_length, image, why, why_size};
    return WalkPairs(decode);
}

DataSpan MemoryImageSpan(const uint8_t* image, int32_t length) {
    DataSpan span{-1, 0, 0};
    for (int32_t at = 0; at < length && at < kImageFirstOffset; ++at) {
        if (image[at] == 0) continue;
        if (span.lowest < 0) span.lowest = at;
        ++span.below_first_offset;
    }
    if (span.lowest < 0 && length > kImageFirstOffset) span.lowest = kImageFirstOffset;
    if (span.lowest >= 0) span.end = length;
    return span;
}
