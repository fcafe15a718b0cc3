// Image file loading: choose a file, read it whole, decode it into the image buffer.
#pragma once
#include <cstdint>

// Path buffer of the Open dialog in bytes, terminator included: 260 characters, each up to
// three bytes in UTF-8 (the programs' code page), so a long name in Greek or Chinese fits.
enum : int { kPathCapacity = 3 * 260 };

// ReadWholeFile's result for a file larger than the destination: nothing is read.
constexpr int kFileTooLarge = -1;

// g_loader.system_error after a file refused for a reason of the loader's own, not
// the system's (negative: never an errno or GetLastError value).
enum : int { kFileNotRegular = -1, kFileEmpty = -2, kFileChanged = -3, kFileIsDirectory = -4 };

// The OpenFile operation: the platform's Open dialog, then LoadImageFromPath.
void LoadImageFile();

// Everything of the OpenFile operation after the choice: shows the path, takes the
// type letter, reads and decodes the file. Every refusal is reported by a box and
// leaves no image loaded. Returns 1 when an image was loaded.
int LoadImageFromPath(const char* path);

// Platform: the Open dialog. 1 and the full path in path when a file was chosen.
int ChooseImageFile(char* path, void* owner_window);

// Platform: reads the whole file into destination; others may have it open.
// Returns the bytes read; 0 on any failure or for an empty file; kFileTooLarge,
// without reading, when the file holds more than capacity bytes. On 0 the reason
// is in g_loader.system_error: the system's error, or kFileIsDirectory,
// kFileNotRegular, kFileEmpty or kFileChanged.
int ReadWholeFile(const char* path, uint8_t* destination, int capacity);
