// Intel HEX decoder: checks a whole file first, then decodes it into the image buffer.
#include "image/intel_hex.h"

#include <bitset>
#include <cstring>

#include "core/loader_state.h"
#include "image/decode_support.h"

namespace {

enum : uint8_t {
    kRecordData = 0x00,
    kRecordEndOfFile = 0x01,
    kRecordSegmentAddress = 0x02,
    kRecordLinearAddress = 0x04,
};

struct HexWalk {
    const uint8_t* raw;
    int32_t length;
    uint8_t* image;  // null while only checking
    char* why;
    size_t why_size;
    int32_t pos;     // start of the current record
    uint32_t segment_base;
    int32_t result;
    int data_seen;                        // the image's linear base is fixed at the first data record
    uint16_t linear_value;                // the type 04 value in force
    uint16_t linear_base;                 // the value in force at the first data record
    int32_t lowest;                       // -1 until a data record holds a byte
    int32_t data_end;                     // end of the highest record that holds a byte
    std::bitset<kImageFirstOffset> below;  // bytes below the first sent offset that hold data
};

// Reads the pair at the record's character position; 0 when it is not two hex digits.
int ReadPair(const HexWalk& walk, int32_t at, uint8_t* value) {
    const uint8_t first = walk.raw[at];
    const uint8_t second = walk.raw[at + 1];
    if (!IsHexDigit(first) || !IsHexDigit(second)) return 0;
    *value = DecodeHexPair(first, second);
    return 1;
}

int32_t RefuseRecord(HexWalk& walk, const char* what) {
    return RefuseFile(walk.why, walk.why_size, "Intel HEX line %d: %s",
                      LineAt(walk.raw, walk.pos), what);
}

// Checks the record at walk.pos: start code, digits, length and checksum.
// Returns the record's length in characters (without line end), or -1.
int32_t CheckRecord(HexWalk& walk, uint8_t* count, uint8_t* type) {
    const int32_t available = walk.length - walk.pos;
    if (walk.raw[walk.pos] != ':') return RefuseRecord(walk, "record does not begin with ':'");
    if (available < 11) return RefuseRecord(walk, "file ends inside a record");
    if (!ReadPair(walk, walk.pos + 1, count)) return RefuseRecord(walk, "not a hex digit");
    const int32_t size = 11 + 2 * *count;
    if (available < size) return RefuseRecord(walk, "file ends inside a record");
    unsigned sum = 0;
    for (int32_t at = walk.pos + 1; at < walk.pos + size; at += 2) {
        uint8_t value = 0;
        if (!ReadPair(walk, at, &value)) return RefuseRecord(walk, "not a hex digit");
        sum += value;
    }
    if ((sum & 0xFFu) != 0) return RefuseRecord(walk, "checksum does not match");
    ReadPair(walk, walk.pos + 7, type);
    return size;
}

uint8_t DataByte(const HexWalk& walk, int index) {
    uint8_t value = 0;
    ReadPair(walk, walk.pos + 9 + 2 * index, &value);
    return value;
}

int32_t ApplyData(HexWalk& walk, uint8_t count) {
    if (!walk.data_seen) walk.linear_base = walk.linear_value;
    walk.data_seen = 1;
    // The base value does not move data (an image linked at 0x08001000 loads from 0x1000);
    // each later value places its data that many 64 KiB blocks above.
    if (walk.linear_value < walk.linear_base)
        return RefuseRecord(walk, "extended linear address (type 04) below the image's first one");
    const uint64_t above = uint64_t(walk.linear_value - walk.linear_base) << 16;
    const uint32_t offset = (uint32_t(DataByte(walk, -3)) << 8) | DataByte(walk, -2);
    if (above + walk.segment_base + offset + count > uint64_t(kImageCapacity))
        return RefuseRecord(walk, "data lies past the 260000-byte image");
    const uint32_t start = uint32_t(above) + walk.segment_base + offset;
    if (walk.image) {
        for (int i = 0; i < count; ++i) walk.image[start + static_cast<uint32_t>(i)] = DataByte(walk, i);
    }
    // The highest record ends the image, so records out of address order lose nothing.
    if (int32_t(start + count) > walk.result) walk.result = int32_t(start + count);
    if (count == 0) return 0;
    if (walk.lowest < 0 || int32_t(start) < walk.lowest) walk.lowest = int32_t(start);
    if (int32_t(start + count) > walk.data_end) walk.data_end = int32_t(start + count);
    for (uint32_t at = start; at < start + count && at < uint32_t(kImageFirstOffset); ++at) walk.below.set(at);
    return 0;
}

int32_t ApplyAddress(HexWalk& walk, uint8_t count, uint8_t type) {
    if (count != 2) return RefuseRecord(walk, "address record does not hold 2 bytes");
    const uint16_t value = uint16_t((DataByte(walk, 0) << 8) | DataByte(walk, 1));
    if (type == kRecordSegmentAddress) {
        walk.segment_base = uint32_t(value) * 16;
        return 0;
    }
    walk.linear_value = value;
    return 0;
}

// Steps past the line end after a record: CR LF or a lone LF.
int32_t SkipLineEnd(HexWalk& walk, int32_t at) {
    if (at < walk.length && walk.raw[at] == '\n') return at + 1;
    if (at + 1 < walk.length && walk.raw[at] == '\r' && walk.raw[at + 1] == '\n') return at + 2;
    if (at >= walk.length) return RefuseRecord(walk, "file ends without an end-of-file record");
    return RefuseRecord(walk, "record does not end in CR LF or LF");
}

// After the end-of-file record: a line that starts like a data record means
// files joined into one, whose later data would silently not be sent.
int32_t RefuseDataAfterEnd(HexWalk& walk, int32_t from) {
    for (int32_t at = from; at < walk.length; ++at) {
        if (walk.raw[at - 1] != '\n' || walk.raw[at] != ':' || at + 9 > walk.length) continue;
        uint8_t type = 0xFF;
        walk.pos = at;
        if (ReadPair(walk, at + 7, &type) && type == kRecordData)
            return RefuseRecord(walk, "data record after the end-of-file record");
    }
    return 0;
}

int32_t WalkRecords(HexWalk& walk) {
    for (;;) {
        if (walk.pos >= walk.length) return RefuseRecord(walk, "file ends without an end-of-file record");
        uint8_t count = 0;
        uint8_t type = 0;
        const int32_t size = CheckRecord(walk, &count, &type);
        if (size < 0) return -1;
        if (type == kRecordEndOfFile) return RefuseDataAfterEnd(walk, walk.pos + size) < 0 ? -1 : walk.result;
        int32_t applied = 0;
        if (type == kRecordData) applied = ApplyData(walk, count);
        if (type == kRecordSegmentAddress || type == kRecordLinearAddress)
            applied = ApplyAddress(walk, count, type);
        if (applied < 0) return -1;
        const int32_t next = SkipLineEnd(walk, walk.pos + size);
        if (next < 0) return -1;
        walk.pos = next;
    }
}

}  // namespace

int IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The loader's own digit arithmetic; a lower-case letter in the second position
// gets its ordinary value too (the plain arithmetic would make it 32 too high).
uint8_t DecodeHexPair(uint8_t first, uint8_t second) {
    const unsigned high = (first <= 58 ? first : first - 55u) * 16u;
    unsigned low = second <= 58 ? second - 48u : second - 55u;
    if (second >= 'a' && second <= 'f') low = second - 87u;
    return static_cast<uint8_t>(high + low);
}

int32_t DecodeIntelHex(const uint8_t* raw, int32_t raw_length, uint8_t* image,
                       char* why, size_t why_size, DataSpan* span) {
    HexWalk check{raw, raw_length, nullptr, why, why_size, 0, 0, 0, 0, 0, 0, -1, 0, {}};
    if (WalkRecords(check) < 0) return -1;
    std::memset(image, 0, kImageCapacity);
    HexWalk decode{raw, raw_length, image, why, why_size, 0, 0, 0, 0, 0, 0, -1, 0, {}};
    const int32_t length = WalkRecords(decode);
    if (span) *span = DataSpan{decode.lowest, decode.data_end, int32_t(decode.below.count())};
    return length;
}
