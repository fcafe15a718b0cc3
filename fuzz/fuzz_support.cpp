// Shared by the fuzz targets: a silent operator interface and the checks that stop a run.
#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/loader_state.h"
#include "core/operator_ui.h"
#include "image/intel_hex.h"
#include "image/memory_image.h"

namespace {

// Written into the image before each decode; a refused file must leave it all there.
const uint8_t kUntouched = 0xA5;

}  // namespace

void SetStatusText(const char*) {}
void ShowMessage(const char*, const char*, MessageIcon) {}
void SetInfoField(InfoField, const char*) {}
void SetPathText(const char*) {}
void EnableButton(Button, int) {}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

int32_t DecodeAsLoaded(uint8_t type_letter, const uint8_t* data, size_t size) {
    static const std::unique_ptr<uint8_t[]> image(new uint8_t[kImageCapacity]);
    const std::vector<uint8_t> raw(data, data + size);
    std::memset(image.get(), kUntouched, kImageCapacity);
    char why[160] = "";
    const int32_t length = int32_t(size);
    const int32_t decoded = type_letter == 'h' ? DecodeIntelHex(raw.data(), length, image.get(), why, sizeof why)
                                               : DecodeMemoryImage(raw.data(), length, image.get(), why, sizeof why);
    Require(decoded >= -1 && decoded <= kImageCapacity, "the image length lies inside the image buffer");
    if (decoded >= 0) return decoded;
    Require(why[0] != '\0' && std::memchr(why, '\0', sizeof why) != nullptr, "a refusal says why");
    static const std::vector<uint8_t> untouched(kImageCapacity, kUntouched);
    Require(std::memcmp(image.get(), untouched.data(), kImageCapacity) == 0, "a refused file leaves the image");
    return decoded;
}
