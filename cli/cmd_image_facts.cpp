// tavboot inspect: loads an image file as DownLoad would and describes it.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "core/loader_state.h"
#include "cli/cli_commands.h"
#include "cli/console_ui.h"
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
    facts.downloadable = facts.length >= kMinDownloadLength && facts.length <= kMaxDownloadLength;
    facts.pages = facts.downloadable ? ((uint32_t(facts.length) - kImageFirstOffset) >> 10) + 1 : 0;
    if (g_loader.type_letter == 't') {
        facts.header_platform = HeaderField(kHeaderPlatformOffset, ' ');
        facts.header_version = HeaderField(kHeaderVersionOffset, 'x');
    }
    return facts;
}

void PrintJson(const std::string& file, const ImageFacts& facts) {
    nlohmann::json out = {{"file", file}, {"type", facts.type}, {"image_length", facts.length},
                          {"pages", facts.pages}, {"downloadable", facts.downloadable}};
    out["header_platform"] = facts.type == "tvk" ? nlohmann::json(facts.header_platform) : nullptr;
    out["header_version"] = facts.type == "tvk" ? nlohmann::json(facts.header_version) : nullptr;
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void PrintText(const std::string& file, const ImageFacts& facts) {
    std::printf("file: %s\ntype: %s\nimage length: %ld\npages: %u\ndownloadable: %s\n", file.c_str(),
                facts.type.c_str(), static_cast<long>(facts.length), facts.pages,
                facts.downloadable ? "yes" : "no (length must lie between 4096 and 259071)");
    if (facts.type != "tvk") return;
    std::printf("header platform: %s\nheader version: %s\n", facts.header_platform.c_str(),
                facts.header_version.c_str());
}

}  // namespace

int RunInspect(const std::string& file, bool json) {
    if (!LoadImageFromPath(file.c_str())) return PrintJsonFailure(json, kExitFailed);
    const ImageFacts facts = CollectFacts();
    if (json) PrintJson(file, facts);
    else PrintText(file, facts);
    return kExitOk;
}
