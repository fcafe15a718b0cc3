// Image file loading after the file choice: path, type letter, read, decode.
#include "image/image_file.h"

#include <cstring>

#include "core/loader_state.h"
#include "core/shared_reports.h"
#include "image/intel_hex.h"
#include "image/memory_image.h"

namespace {

// Every refusal leaves no image loaded, so DownLoad cannot send an earlier
// file's image with this file's length.
int RefuseLoad(const char* text) {
    g_loader.image_loaded = 0;
    ReportOutcomeText(kOutcomeFileRefused, text);
    return 0;
}

int ReadIntoRawBuffer(const char* path) {
    const int read = ReadWholeFile(path, g_loader.raw_file, kRawFileCapacity);
    g_loader.raw_file_length = read > 0 ? read : 0;
    g_loader.image_length = g_loader.raw_file_length;
    if (read == kFileTooLarge) return RefuseLoad("File is larger than 4194304 bytes");
    if (read == 0) return RefuseLoad("File read error");
    return 1;
}

}  // namespace

int LoadImageFromPath(const char* path) {
    if (RefuseDuringTransfer()) return 0;
    BeginOutcome();
    SetPathText(path);
    const size_t length = std::strlen(path);
    if (length < 3) return RefuseLoad("File has unsupported suffix format");
    g_loader.type_letter = static_cast<uint8_t>(path[length - 3]);
    if (!ReadIntoRawBuffer(path)) return 0;

    char why[160];
    int32_t decoded;
    DataSpan span{-1, 0, 0};
    if (g_loader.type_letter == 'h')
        decoded = DecodeIntelHex(g_loader.raw_file, g_loader.raw_file_length, g_loader.image, why, sizeof why, &span);
    else if (g_loader.type_letter == 't')
        decoded = DecodeMemoryImage(g_loader.raw_file, g_loader.raw_file_length, g_loader.image, why, sizeof why);
    else
        return RefuseLoad("File has unsupported suffix format");
    if (decoded < 0) return RefuseLoad(why);
    if (g_loader.type_letter == 't') span = MemoryImageSpan(g_loader.image, decoded);
    g_loader.image_length = decoded;
    g_loader.data_lowest = span.lowest;
    g_loader.data_end = span.end;
    g_loader.data_below_first_offset = span.below_first_offset;
    g_loader.image_loaded = 1;
    RecordOutcome(kOutcomeOk);
    return 1;
}
