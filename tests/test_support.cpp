// Helpers for tests: temporary files and image files built in memory.
#include "tests/test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string g_temp_dir;

void RemoveTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(g_temp_dir, ignored);
}

void AppendHexByte(std::string& text, uint8_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    text += kDigits[value >> 4];
    text += kDigits[value & 15];
}

}  // namespace

std::string TempDir() {
    if (!g_temp_dir.empty()) return g_temp_dir;
    char pattern[] = "/tmp/tavboot-test-XXXXXX";
    g_temp_dir = mkdtemp(pattern);
    std::atexit(RemoveTempDir);
    return g_temp_dir;
}

std::string WriteTempFile(const std::string& name, const std::string& bytes) {
    const std::string path = TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string HexRecord(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
    std::string text = ":";
    unsigned sum = static_cast<unsigned>(uint8_t(data.size()) + (offset >> 8) + (offset & 0xFF) + type);
    AppendHexByte(text, uint8_t(data.size()));
    AppendHexByte(text, uint8_t(offset >> 8));
    AppendHexByte(text, uint8_t(offset));
    AppendHexByte(text, type);
    for (uint8_t byte : data) {
        AppendHexByte(text, byte);
        sum += byte;
    }
    AppendHexByte(text, uint8_t(-sum));
    return text;
}

std::string MakeIntelHex(const std::vector<uint8_t>& image, uint32_t start_offset, const char* line_end,
                         bool skip_zero_records) {
    std::string text;
    uint32_t segment = ~0u;
    for (uint32_t at = start_offset; at < image.size(); at += 32) {
        if ((at >> 16) != segment) {
            segment = at >> 16;
            const uint16_t paragraph = uint16_t(segment << 12);
            text += HexRecord(0x02, 0, {uint8_t(paragraph >> 8), uint8_t(paragraph)}) + line_end;
        }
        const size_t end = std::min<size_t>(at + 32, image.size());
        const bool all_zero = std::all_of(image.begin() + at, image.begin() + static_cast<std::ptrdiff_t>(end), [](uint8_t b) { return b == 0; });
        if (skip_zero_records && all_zero && end != image.size()) continue;
        text += HexRecord(0x00, uint16_t(at), std::vector<uint8_t>(image.begin() + at, image.begin() + static_cast<std::ptrdiff_t>(end)));
        text += line_end;
    }
    return text + HexRecord(0x01, 0, {}) + line_end;
}

std::string MakeMemoryImage(const std::vector<uint8_t>& image, const std::string& platform,
                            const std::string& version) {
    std::string text = "TVK IMAGE 1.0\r\n";
    text += (platform + std::string(16, ' ')).substr(0, 16) + "\r\n";
    text += (version + std::string(8, 'x')).substr(0, 8) + "\r\n";
    for (size_t i = 0; i < image.size(); ++i) {
        AppendHexByte(text, image[i]);
        if (i % 32 == 31 && i + 1 < image.size()) text += "\r\n";
    }
    return text + "\r\nL\r\n";
}

std::vector<uint8_t> PatternImage(size_t length, uint32_t seed) {
    std::vector<uint8_t> image(length);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        image[i] = uint8_t(state >> 16);
    }
    return image;
}
