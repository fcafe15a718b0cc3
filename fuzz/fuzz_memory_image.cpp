// Fuzz target: any file's bytes loaded as a memory image file (type letter 't').
#include "core/loader_state.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Larger files are refused by the read before any decoder sees them.
    if (size > size_t(kRawFileCapacity)) return 0;
    const int32_t decoded = DecodeAsLoaded('t', data, size);
    // Each image byte takes at least two characters after the 43-character header.
    Require(decoded < 0 || decoded <= (int32_t(size) - 43) / 2, "no more bytes than pairs in the file");
    return 0;
}
