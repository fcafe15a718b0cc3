// Fuzz target: the compatibility check of any memory image file against any 32-byte boot identity.
#include <cstring>
#include <vector>

#include "core/loader_state.h"
#include "fuzz/fuzz_support.h"
#include "image/compatibility.h"
#include "image/memory_image.h"

namespace {

// A header field fits when it ends (at CR or its own terminator) before running
// out of file or record, and the record starts with every byte before the end.
bool FieldFits(const std::vector<uint8_t>& file, int32_t offset, const uint8_t* record, int record_size,
               uint8_t terminator) {
    for (int i = 0; i < record_size && offset + i < int32_t(file.size()); ++i) {
        const uint8_t c = file[size_t(offset + i)];
        if (c == '\r' || c == terminator) return true;
        if (c != record[i]) return false;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < size_t(kReceiveSize) || size - kReceiveSize > size_t(kRawFileCapacity)) return 0;
    const std::vector<uint8_t> identity(data, data + kReceiveSize);
    const std::vector<uint8_t> file(data + kReceiveSize, data + size);
    const int32_t length = int32_t(file.size());
    const int outcome = CompareImageHeader(file.data(), length, identity.data());

    const bool platform = FieldFits(file, kHeaderPlatformOffset, identity.data(), kReceiveSize, ' ');
    const bool version = FieldFits(file, kHeaderVersionOffset, identity.data() + 16, kReceiveSize - 16, 'x');
    Require(outcome == (!platform ? 1 : !version ? 2 : 0), "the outcome names the first field that does not fit");

    // The same check as DownLoad runs it, on the loader state's buffers.
    if (!file.empty()) std::memcpy(g_loader.raw_file, file.data(), file.size());
    g_loader.raw_file_length = length;
    std::memcpy(g_loader.receive, identity.data(), kReceiveSize);
    g_loader.port = kNoPort;
    Require((CheckImageCompatibility() != 0) == (outcome == 0), "DownLoad goes on only with a fitting image");
    return 0;
}
