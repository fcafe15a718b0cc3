// Fuzz target: any file's bytes loaded as an Intel HEX file (type letter 'h').
#include "core/loader_state.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Larger files are refused by the read before any decoder sees them.
    if (size > size_t(kRawFileCapacity)) return 0;
    DecodeAsLoaded('h', data, size);
    return 0;
}
