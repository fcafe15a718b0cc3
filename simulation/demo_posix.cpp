// tavboot demo: a download of the built-in sample into a simulated device over a real pseudo-terminal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "console/console.h"
#include "image/image_digest.h"
#include "image/image_file.h"
#include "production/production.h"
#include "sim/sim_device.h"
#include "simulation/sample_image.h"
#include "simulation/simulation.h"

namespace {

// The sample goes through the same file loading as any other image; an interrupt removes it.
std::string WriteSample(char* folder) {
    if (!mkdtemp(folder)) return "";
    const std::string path = std::string(folder) + "/" + kSampleImageName;
    RemoveOnInterrupt(path.c_str(), folder);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return "";
    std::fwrite(kSampleImageText, 1, std::strlen(kSampleImageText), file);
    std::fclose(file);
    return path;
}

void RemoveSample(const char* folder, const std::string& path) {
    if (!path.empty()) unlink(path.c_str());
    rmdir(folder);
}

// The device must hold every page that was sent, from offset 4096 on.
bool FlashMatchesImage(SimDevice* device, uint32_t pages) {
    const std::vector<uint8_t> flash = SimFlash(device);
    const size_t end = kImageFirstOffset + size_t(pages) * kPageSize;
    return flash.size() >= end &&
           std::memcmp(flash.data() + kImageFirstOffset, g_loader.image + kImageFirstOffset,
                       end - kImageFirstOffset) == 0;
}

int DownloadInto(SimDevice* device, const std::string& sample) {
    std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "%s", device->slave_path);
    std::printf("tavboot demo: simulated device on %s, paced like a 19200 baud line\n", device->slave_path);
    std::fflush(stdout);
    if (!LoadImageFromPath(sample.c_str())) return kExitFailed;
    const uint32_t pages = SentPageCount(g_loader.image_length);
    const double started = MonotonicSeconds();
    StartDownload();
    if (g_loader.transfer_state != 0) BeginTransferProgress();
    while (g_loader.transfer_state != 0) TransferStep();
    EndProgressLine();
    const double seconds = MonotonicSeconds() - started;
    if (g_loader.outcome != kOutcomeOk) return kExitFailed;
    if (!FlashMatchesImage(device, pages)) {
        std::printf("tavboot demo: FAILED, the device's flash differs from the image\n");
        return kExitFailed;
    }
    std::printf("tavboot demo: %u pages (%u bytes) downloaded in %.1f s, %.0f bytes/s; "
                "the device's flash equals the image\n",
                pages, pages * kPageSize, seconds, pages * kPageSize / seconds);
    return kExitOk;
}

}  // namespace

int RunDemo() {
    SimConfig config;
    SimDefaultConfig(&config);
    config.paced = 1;
    SimDevice device;
    if (!SimOpen(&device, &config) || !SimStartThread(&device)) {
        std::fprintf(stderr, "tavboot demo: cannot start the simulated device\n");
        return kExitFailed;
    }
    const char* temporary = std::getenv("TMPDIR");
    std::string folder_name = std::string(temporary && *temporary ? temporary : "/tmp") + "/tavboot-demo-XXXXXX";
    char* folder = &folder_name[0];
    const std::string sample = WriteSample(folder);
    InstallInterruptHandler();
    const int status = sample.empty() ? kExitFailed : DownloadInto(&device, sample);
    SimStop(&device);
    RemoveSample(folder, sample);
    return status;
}
