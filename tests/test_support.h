// Helpers for tests: temporary files and image files built in memory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under the system's temporary folder, removed at process exit.
std::string TempDir();
// Writes bytes to TempDir()/name and returns the full path.
std::string WriteTempFile(const std::string& name, const std::string& bytes);

// image[0..length) as Intel HEX: type 02 segments, 32-byte data records, CR LF
// (or LF) line ends; addresses below start_offset are left out, and so are
// all-zero records but the last when skip_zero_records (the decoder clears them).
std::string MakeIntelHex(const std::vector<uint8_t>& image, uint32_t start_offset, const char* line_end,
                         bool skip_zero_records = false);
// One Intel HEX record with its checksum, without line end.
std::string HexRecord(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data);

// A memory image file with the given header fields (platform padded with blanks
// to 16, version with 'x' to 8) and 32 pairs per line.
std::string MakeMemoryImage(const std::vector<uint8_t>& image, const std::string& platform,
                            const std::string& version);

// length bytes of a pattern that differs from page to page and message to message.
std::vector<uint8_t> PatternImage(size_t length, uint32_t seed);
