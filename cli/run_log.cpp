// The run log: one JSON line per port operation, appended with one write so parallel ports never interleave.
#include "cli/run_log.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/console_ui.h"
#include "core/loader_state.h"

const char kTavbootVersion[] = "0.0.10";

namespace {

int g_log_file = -1;

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long millis = long(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    return std::string(text) + "." + (millis < 100 ? millis < 10 ? "00" : "0" : "") + std::to_string(millis) + "Z";
}

// An identity field as read, null when the operation never read it (still blank).
nlohmann::json FieldOrNull(InfoField field) {
    const std::string value = FieldValue(field);
    if (value.find_first_not_of(' ') == std::string::npos) return nullptr;
    return value;
}

// Pages a download of this length sends; 0 when it cannot be downloaded.
uint32_t DownloadPages(int32_t length) {
    if (length < kMinDownloadLength || length > kMaxDownloadLength) return 0;
    return ((uint32_t(length) - kImageFirstOffset) >> 10) + 1;
}

const char* ResultName(int status) {
    if (status == kExitOk) return "ok";
    if (status == kExitInterrupted) return "interrupted";
    return "failed";
}

}  // namespace

int OpenRunLog(const std::string& path) {
    g_log_file = OpenAppendFile(path.c_str());
    if (g_log_file >= 0) return 1;
    std::fprintf(stderr, "tavboot: cannot open the log %s: %s\n", path.c_str(), std::strerror(errno));
    return 0;
}

std::string LogRecordText(const LogEntry& entry) {
    nlohmann::json record = {{"time", UtcNow()},          {"host", HostName()},  {"tavboot", kTavbootVersion},
                             {"operation", entry.operation}, {"port", entry.port}, {"file", nullptr},
                             {"image_length", nullptr},   {"pages", nullptr},    {"image_sha256", nullptr}};
    if (!entry.file.empty()) record["file"] = entry.file;
    if (!entry.file.empty() && g_loader.image_loaded) {
        record["image_length"] = g_loader.image_length;
        record["pages"] = DownloadPages(g_loader.image_length);
    }
    record["hw_platform"] = FieldOrNull(HwPlatformField);
    record["hw_version"] = FieldOrNull(HwVersionField);
    record["boot_sw_version"] = FieldOrNull(BootSwVersionField);
    record["result"] = ResultName(entry.status);
    record["message"] = entry.status == kExitOk ? "" : g_console.last_box;
    record["attempts"] = entry.attempts;
    record["seconds"] = std::round(entry.seconds * 1000) / 1000;
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void WriteLogRecord(const LogEntry& entry) {
    if (g_log_file < 0) return;
    if (!AppendWhole(g_log_file, LogRecordText(entry) + "\n"))
        std::fprintf(stderr, "tavboot: cannot write to the log: %s\n", std::strerror(errno));
}
