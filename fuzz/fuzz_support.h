// Shared by the fuzz targets: a silent operator interface and the checks that stop a run.
#pragma once
#include <cstddef>
#include <cstdint>

// Ends the run as a crash with what went wrong when condition is false; a broken
// promise counts as much as a sanitizer report.
void Require(bool condition, const char* what);

// Decodes the file's bytes as loading does after the read: the decoder that the
// type letter picks, the length read, the image buffer. The bytes and the image
// sit in buffers of exactly their size, so any access past either is caught.
// Returns the decoder's result.
int32_t DecodeAsLoaded(uint8_t type_letter, const uint8_t* data, size_t size);
