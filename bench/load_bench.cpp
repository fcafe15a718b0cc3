// Measures loading the largest image files: read and decode, as OpenFile and `tavboot download` do.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/loader_state.h"
#include "core/operator_ui.h"
#include "image/image_file.h"

// The loads report nothing here; a refusal is seen in the result.
void SetStatusText(const char*) {}
void ShowMessage(const char* text, const char*, MessageIcon) { std::fprintf(stderr, "box: %s\n", text); }
void SetInfoField(InfoField, const char*) {}
void SetPathText(const char*) {}
void EnableButton(Button, int) {}

namespace {

double NowSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The largest image the device takes, from 0x1000: pseudo-random, so no record is skipped.
std::vector<unsigned char> Firmware() {
    std::vector<unsigned char> bytes(size_t(kMaxDownloadLength - kImageFirstOffset));
    uint32_t state = 1;
    for (unsigned char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = (unsigned char)(state >> 16);
    }
    return bytes;
}

int WriteFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// A memory image of the same firmware behind 4096 zero bytes, 32 pairs a line.
std::string MemoryImageText(const std::vector<unsigned char>& firmware) {
    std::vector<unsigned char> image(size_t(kImageFirstOffset), 0);
    image.insert(image.end(), firmware.begin(), firmware.end());
    std::string text = "TVK IMAGE 1.0\r\nTAV-SIM-PLATFORM\r\nHW 1.0xx\r\n";
    char pair[3];
    for (size_t i = 0; i < image.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02X", image[i]);
        text += pair;
        if (i % 32 == 31) text += "\r\n";
    }
    return text + "\r\nL\r\n";
}

long FileSize(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return -1;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size;
}

int Measure(const char* what, const std::string& path, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const double start = NowSeconds();
        const int loaded = LoadImageFromPath(path.c_str());
        ms.push_back((NowSeconds() - start) * 1000);
        if (!loaded || g_loader.image_length != kMaxDownloadLength) {
            std::printf("%s: not loaded as a %d-byte image\n", what, int(kMaxDownloadLength));
            return 0;
        }
    }
    const double first = ms[0];
    std::sort(ms.begin(), ms.end());
    std::printf("%-26s %8ld %9.2f %9.2f %9.2f %9.2f\n", what, FileSize(path), first, ms.front(), ms[ms.size() / 2],
                ms.back());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    char folder[] = "/tmp/tavboot-load-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string dir = folder;
    const std::vector<unsigned char> firmware = Firmware();
    const std::string bin = dir + "/largest.bin";
    const std::string hex = dir + "/largest.hex";
    const std::string tvk = dir + "/largest.tvk";
    int ok = WriteFile(bin, std::string(firmware.begin(), firmware.end())) &&
             WriteFile(tvk, MemoryImageText(firmware)) &&
             std::system(("objcopy -I binary -O ihex --change-addresses 0x1000 " + bin + " " + hex).c_str()) == 0;
    ResetLoaderState();
    std::printf("Loading the largest image (%d bytes, 249 pages), %d loads each, ms:\n", int(kMaxDownloadLength), runs);
    std::printf("%-26s %8s %9s %9s %9s %9s\n", "file", "bytes", "first", "min", "median", "max");
    ok = ok && Measure("objcopy -O ihex (.hex)", hex, runs);
    ok = ok && Measure("memory image (.tvk)", tvk, runs);
    std::system(("rm -rf " + dir).c_str());
    return ok ? 0 : 1;
}
