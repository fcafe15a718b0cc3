// Texts as UTF-8 for JSON, the log and the console, without losing a byte of what the device or the system gave.
#include "console/console.h"

namespace {

void AppendLatin1(std::string* out, unsigned char byte) {
    if (byte < 0x80) {
        *out += char(byte);
        return;
    }
    *out += char(0xC0 | (byte >> 6));
    *out += char(0x80 | (byte & 0x3F));
}

// The length of the well-formed UTF-8 sequence at text[at], 0 when there is none.
size_t Utf8SequenceAt(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range: no overlong forms, no surrogates
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string DeviceTextUtf8(const std::string& bytes) {
    std::string out;
    for (const char byte : bytes) AppendLatin1(&out, static_cast<unsigned char>(byte));
    return out;
}

std::string NameUtf8(const std::string& bytes) {
    std::string out;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = static_cast<unsigned char>(bytes[at]) < 0x80 ? 1 : Utf8SequenceAt(bytes, at);
        if (length == 0) {
            AppendLatin1(&out, static_cast<unsigned char>(bytes[at++]));
            continue;
        }
        out.append(bytes, at, length);
        at += length;
    }
    return out;
}
