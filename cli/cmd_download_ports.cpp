// tavboot download: one port in this process, several ports in parallel processes.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/console_ui.h"
#include "cli/download_attempts.h"

namespace {

// Ports named by --port and --ports-from, in that order; COM1 when none is named.
std::vector<std::string> CollectPorts(const std::vector<std::string>& ports, const std::string& ports_from,
                                      int* usage_error, int* failed) {
    std::vector<std::string> all = ports;
    if (!ports_from.empty()) {
        std::ifstream list(ports_from);
        std::string line;
        while (std::getline(list, line)) {
            const size_t begin = line.find_first_not_of(" \t\r");
            const size_t end = line.find_last_not_of(" \t\r");
            if (begin == std::string::npos || line[begin] == '#') continue;
            all.push_back(line.substr(begin, end - begin + 1));
            if (!ResolvePortSelector(&all.back())) *failed = 1;
        }
        if (all.size() == ports.size()) {
            std::fprintf(stderr, "tavboot: %s names no port\n", ports_from.c_str());
            *usage_error = 1;
        }
    }
    if (all.empty()) all.push_back("COM1");
    return all;
}

const char* ResultName(int status) {
    if (status == kExitOk) return "ok";
    if (status == kExitInterrupted) return "interrupted";
    return "failed";
}

}  // namespace

void PrintDownloadJson(const std::vector<PortResult>& results) {
    nlohmann::json ports = nlohmann::json::array();
    bool all_ok = true;
    for (const PortResult& result : results) {
        ports.push_back({{"port", result.port}, {"result", ResultName(result.status)},
                         {"message", result.message}, {"seconds", std::round(result.seconds * 1000) / 1000},
                         {"attempts", result.attempts}});
        all_ok = all_ok && result.status == kExitOk;
    }
    const nlohmann::json out = {{"ok", all_ok}, {"ports", ports}};
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

int RunDownloads(DeviceOptions device, const std::vector<std::string>& ports, const std::string& ports_from,
                 const std::string& file, bool json) {
    int usage_error = 0;
    int failed = 0;
    const std::vector<std::string> all = CollectPorts(ports, ports_from, &usage_error, &failed);
    if (usage_error) return kExitUsage;
    if (failed) return kExitFailed;
    if (all.size() > 1) return RunParallelDownloads(device, all, file, json);
    device.port = all[0];
    const double started = MonotonicSeconds();
    int attempts = 1;
    const int status = DownloadWithRetries(device, file, "download", &attempts);
    if (json) PrintDownloadJson({{device.port, status, g_console.last_box, MonotonicSeconds() - started, attempts}});
    return status;
}
