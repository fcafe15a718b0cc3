// Fingerprints of exactly the bytes a download of the loaded image sends, for production records.
#pragma once
#include <cstdint>

// Pages a download of an image of this length sends; 0 when DownLoad refuses
// the length (outside kMinDownloadLength..kMaxDownloadLength).
uint32_t SentPageCount(int32_t image_length);

// CRC-32 (IEEE) and SHA-256 of the bytes a download of the loaded image sends.
uint32_t ComputeSentImageCrc32();
void ComputeSentImageSha256(char hex[65]);   // 64 lower-case hex digits + NUL

// The same two over any bytes.
uint32_t Crc32(const uint8_t* bytes, uint32_t length);
void Sha256(const uint8_t* bytes, uint32_t length, uint8_t digest[32]);
