// tavboot download: one port in this process, several ports in parallel processes.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "console/console.h"
#include "console/json_output.h"
#include "core/loader_state.h"
#include "link/serial.h"
#include "ports/ports.h"
#include "production/production.h"

namespace {

// A ports list is a short text file; anything else (a device, a FIFO, a huge file) is refused.
constexpr std::streamsize kPortsListLimit = 1 << 20;

// A comment's #: at the start of the line or after a blank, so that a Windows location path
// (usb-port:PCIROOT(0)#PCI(1400)#...) keeps its own.
size_t CommentStart(const std::string& line) {
    for (size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1))
        if (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t') return at;
    return std::string::npos;
}

// One port a line; blank lines, a UTF-8 byte order mark and "# comments" are skipped.
int ReadPortsList(const std::string& path, std::vector<std::string>* ports, bool json) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kPortsListLimit)
        return !Refuse(path + ": the ports list must be a regular file of at most 1 MiB", json);
    std::ifstream list(path);
    std::string text(size_t(info.st_size), '\0');
    list.read(&text[0], std::streamsize(text.size()));
    text.resize(size_t(list.gcount()));
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::istringstream lines(text);
    std::string line;
    const size_t named = ports->size();
    while (std::getline(lines, line)) {
        line = line.substr(0, CommentStart(line));
        const size_t begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos) continue;
        ports->push_back(line.substr(begin, line.find_last_not_of(" \t\r") - begin + 1));
    }
    if (ports->size() == named) return !Refuse(path + " names no port", json);
    return 1;
}


const char* ResultName(int status) {
    if (status == kExitOk) return "ok";
    if (status == kExitInterrupted) return "interrupted";
    return "failed";
}

// A device's text as read, null when it never answered (blank).
nlohmann::json TextOrNull(const std::string& text) {
    if (text.find_first_not_of(' ') == std::string::npos) return nullptr;
    return DeviceTextUtf8(text);
}

nlohmann::json DownloadJson(const std::vector<PortResult>& results) {
    nlohmann::json ports = nlohmann::json::array();
    bool all_ok = true;
    for (const PortResult& result : results) {
        nlohmann::json port = {{"port", NameUtf8(result.port)}, {"result", ResultName(result.status)},
                               {"message", result.message}, {"seconds", std::round(result.seconds * 1000) / 1000},
                               {"attempts", result.attempts},
                               {"answer_delay_ms", result.answer_delay_ms < 0 ? nlohmann::json(nullptr)
                                                                              : nlohmann::json(result.answer_delay_ms)}};
        port["app_name"] = TextOrNull(result.app.name);
        port["fw_version"] = TextOrNull(result.app.fw_version);
        // A port whose process did not report its outcome has none to show.
        if (result.outcome != kOutcomeNone) port["outcome"] = OutcomeKey(result.outcome);
        ports.push_back(port);
        all_ok = all_ok && result.status == kExitOk;
    }
    return {{"ok", all_ok}, {"ports", ports}};
}

// A file that did not load fails every port alike: the failure's object, around the ports' results.
void PrintDownloadJson(const std::vector<PortResult>& results) {
    nlohmann::json out = DownloadJson(results);
    if (!g_loader.image_loaded) {
        out["message"] = g_console.last_box;
        out["outcome"] = OutcomeKey(g_loader.outcome);
        if (!g_console.last_reason.empty()) out["reason"] = g_console.last_reason;
    }
    PrintJsonValue(out);
}

// With json, an interrupt prints the port's result too: interrupted after attempts, its seconds counted then.
void PrepareInterruptJson(const std::string& port, int attempts) {
    const std::string text = WithSchema(DownloadJson({{port, kExitInterrupted, InterruptNotice(), 0, attempts,
                                                       kOutcomeInterrupted, -1, {}}}))
                                 .dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    const size_t seconds = text.find("\"seconds\": ") + 11;
    const size_t end = text.find_first_of(",\n", seconds);
    SetInterruptReport(text.substr(0, seconds) + kInterruptSecondsMark + text.substr(end) + "\n");
}

// Several ports: a file that does not load fails every port, each with its record, in the
// same shape as one port's.
int DownloadOnPorts(const DeviceOptions& device, const std::vector<std::string>& ports, const std::string& file,
                    bool json) {
    std::vector<PortResult> results;
    const int status = DownloadOnSeveralPorts(device, ports, file, &results);
    if (results.empty() && status != kExitFailed) return status;
    if (results.empty())
        for (const std::string& port : ports) {
            WriteLogRecord({"download", port, file, kExitFailed, 1, 0});
            results.push_back({port, kExitFailed, g_console.last_box, 0, 1, g_loader.outcome, -1, {}});
        }
    if (json) PrintDownloadJson(results);
    return status;
}

}  // namespace

// The device a port's name opens: COMn as OpenPort maps it, links and aliases followed.
static std::string DeviceOfPort(const std::string& port) {
    char path[kPortNameCapacity + 16];
    PortDevicePath(port.c_str(), path, sizeof path);
    std::error_code error;
    const std::filesystem::path device = std::filesystem::weakly_canonical(path, error);
    return error ? std::string(path) : device.string();
}

int RefuseBadPorts(const std::vector<std::string>& ports, bool json) {
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        if (RefusePortName(port, json)) return 1;
        if (!seen.insert(DeviceOfPort(port)).second) return Refuse(port + ": the port is named twice", json) != 0;
    }
    return 0;
}

int RunDownloadCommand(DeviceOptions device, const std::vector<std::string>& ports, const std::string& ports_from,
                       const std::string& file, bool json) {
    std::vector<std::string> all = ports;
    if (!ports_from.empty() && !ReadPortsList(ports_from, &all, json)) return kExitUsage;
    // The environment names the port only when no option names any.
    const char* default_port = std::getenv("TAVBOOT_PORT");
    if (all.empty()) all.push_back(default_port && *default_port ? default_port : "COM1");
    std::string why;
    for (std::string& port : all)
        if (!ResolvePortSelector(&port, &why)) return FailBeforeRun(why, json);
    if (RefuseBadPorts(all, json)) return kExitUsage;
    KeepSystemAwake();  // a long unattended run must not end in sleep
    if (all.size() > 1) return DownloadOnPorts(device, all, file, json);
    device.port = all[0];
    const double started = MonotonicSeconds();
    int attempts = 1;
    if (json) SetAttemptListener([&device](int attempt) { PrepareInterruptJson(device.port, attempt); });
    const int status = DownloadWithRetries(device, file, "download", &attempts);
    SetAttemptListener(nullptr);
    const int answer_delay_ms = g_loader.answer_count ? int(g_loader.answer_delay_ms) : -1;
    if (json)
        PrintDownloadJson({{device.port, status, ResultMessage(), MonotonicSeconds() - started, attempts,
                            g_loader.outcome, answer_delay_ms,
                            {FieldValue(ApplicationInfoField), FieldValue(FwVersionField)}}});
    return status;
}
