// tavboot inspect: loads an image file as DownLoad would and describes it.
#include <cstdio>
#include <string>

#include "core/loader_state.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/json_output.h"
#include "image/image_digest.h"
#include "image/image_file.h"
#include "image/memory_image.h"

namespace {

struct ImageFacts {
    std::string type;
    int32_t length;
    uint32_t pages;  // 0 when the image cannot be downloaded
    bool downloadable;
    std::string header_platform;  // memory images only
    std::string header_version;
    uint32_t crc32;      // of the bytes a download sends
    char sha256[65];
};

// A header field as the compatibility check reads it: up to CR or the terminator.
std::string HeaderField(int32_t offset, char terminator) {
    std::string field;
    for (int32_t at = offset; at < g_loader.raw_file_length && at < offset + 32; ++at) {
        const char c = static_cast<char>(g_loader.raw_file[at]);
        if (c == '\r' || c == terminator) break;
        field += c;
    }
    return field;
}

ImageFacts CollectFacts() {
    ImageFacts facts;
    facts.type = g_loader.type_letter == 'h' ? "hex" : "tvk";
    facts.length = g_loader.image_length;
    facts.pages = SentPageCount(facts.length);
    facts.downloadable = facts.pages != 0;
    facts.crc32 = ComputeSentImageCrc32();
    ComputeSentImageSha256(facts.sha256);
    if (g_loader.type_letter == 't') {
        facts.header_platform = HeaderField(kHeaderPlatformOffset, ' ');
        facts.header_version = HeaderField(kHeaderVersionOffset, 'x');
    }
    return facts;
}

void PrintJson(const std::string& file, const ImageFacts& facts) {
    nlohmann::json out = {{"file", NameUtf8(file)}, {"type", facts.type}, {"image_length", facts.length},
                          {"pages", facts.pages}, {"downloadable", facts.downloadable}};
    out["header_platform"] = facts.type == "tvk" ? nlohmann::json(facts.header_platform) : nullptr;
    out["header_version"] = facts.type == "tvk" ? nlohmann::json(facts.header_version) : nullptr;
    const bool has_data = g_loader.data_lowest >= 0;
    out["lowest_data_address"] = has_data ? nlohmann::json(g_loader.data_lowest) : nullptr;
    out["highest_data_address"] = has_data ? nlohmann::json(g_loader.data_end - 1) : nullptr;
    out["bytes_below_0x1000"] = g_loader.data_below_first_offset;
    out["sent_bytes"] = facts.pages * kPageSize;
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", facts.crc32);
    out["sent_crc32"] = facts.downloadable ? nlohmann::json(crc) : nullptr;
    out["sent_sha256"] = facts.downloadable ? nlohmann::json(facts.sha256) : nullptr;
    PrintJsonValue(out);
}

void PrintText(const std::string& file, const ImageFacts& facts) {
    std::printf("file: %s\ntype: %s\nimage length: %ld\npages: %u\ndownloadable: %s\n", file.c_str(),
                facts.type.c_str(), static_cast<long>(facts.length), facts.pages,
                facts.downloadable ? "yes" : "no (length must lie between 4096 and 259071)");
    if (facts.type == "tvk")
        std::printf("header platform: %s\nheader version: %s\n", facts.header_platform.c_str(),
                    facts.header_version.c_str());
    if (g_loader.data_lowest >= 0)
        std::printf("data addresses: 0x%05lX to 0x%05lX\n", static_cast<long>(g_loader.data_lowest),
                    static_cast<long>(g_loader.data_end - 1));
    else
        std::printf("data addresses: none\n");
    std::printf("bytes below 0x1000 (never sent): %ld\n", static_cast<long>(g_loader.data_below_first_offset));
    if (!facts.downloadable) return;
    std::printf("sent bytes: %u (0x1000 to 0x%05X)\nsent CRC-32: %08x\nsent SHA-256: %s\n",
                unsigned(facts.pages * kPageSize), unsigned(kImageFirstOffset + facts.pages * kPageSize - 1),
                facts.crc32, facts.sha256);
}

}  // namespace

int RunInspect(const std::string& file, bool json) {
    if (!LoadImageFromPath(file.c_str())) return PrintJsonFailure(json, kExitFailed);
    WarnDataBelowFirstOffset();
    const ImageFacts facts = CollectFacts();
    if (json) PrintJson(file, facts);
    else PrintText(file, facts);
    return kExitOk;
}
