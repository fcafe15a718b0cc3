// A worker: one port's download or station, reporting its events to the supervisor that started it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/loader_state.h"
#include "image/image_digest.h"
#include "production/production.h"
#include "production/worker.h"

namespace {

int g_is_worker = 0;
unsigned g_reported_pages = 0;

struct WorkerCall {
    std::string job;
    DeviceOptions device;
    std::string file;
    std::string log;
    std::string station;
    std::string operator_name;
    bool image_input = false;  // the image comes on standard input
};

}  // namespace

// Every status text is a phase; a page acknowledged since the last one is a page too.
void ReportStatus(const char* text) {
    ReportWorkerEvent({"phase", {{"text", text}}});
    if (g_loader.page_number == g_reported_pages || g_loader.page_number == 0) return;
    g_reported_pages = g_loader.page_number;
    ReportWorkerEvent({"page", {{"done", std::to_string(g_reported_pages)},
                                {"total", std::to_string(SentPageCount(g_loader.image_length))}}});
}

namespace {

// The supervisor wrote these arguments: "--worker JOB" then option and value pairs, --trace alone.
int ParseWorkerCall(int argc, const char* const* argv, WorkerCall* call) {
    if (argc < 3) return 0;
    call->job = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--trace" || option == "--image-input") {
            (option == "--trace" ? call->device.trace : call->image_input) = true;
            continue;
        }
        if (i + 1 >= argc) return 0;
        const std::string value = argv[++i];
        if (option == "--port") call->device.port = value;
        else if (option == "--boot-value") call->device.boot_value = value;
        else if (option == "--unlock-key") call->device.unlock_key = value;
        else if (option == "--retries") call->device.retries = std::atoi(value.c_str());
        else if (option == "--verify-app") call->device.verify_app = std::atof(value.c_str());
        else if (option == "--removal-time") call->device.removal_time = std::atof(value.c_str());
        else if (option == "--log") call->log = value;
        else if (option == "--station") call->station = value;
        else if (option == "--operator") call->operator_name = value;
        else if (option == "--expect-platform") call->device.expect_platform = value;
        else if (option == "--expect-hw-version") call->device.expect_hw_version = value;
        else if (option == "--file") call->file = value;
        else return 0;
    }
    return !call->file.empty() && (call->job == "download" || call->job == "station");
}

// Reads exactly count bytes of standard input into destination.
int ReadInput(uint8_t* destination, int32_t count) {
    return count >= 0 && std::fread(destination, 1, size_t(count), stdin) == size_t(count);
}

int Number(const WorkerEvent& event, const char* key, int32_t low, int32_t high, int32_t* value) {
    const std::string text = event.Field(key);
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < low || parsed > high) return 0;
    *value = int32_t(parsed);
    return 1;
}

// The image LoadedImageInput wrote: its facts on one line, then the file's bytes and the image's.
int TakeImageInput(const std::string& file) {
    char line[512];
    WorkerEvent facts;
    int32_t type = 0;
    if (!std::fgets(line, sizeof line, stdin) || !ParseWorkerEvent(std::string(line, std::strcspn(line, "\n")), &facts) ||
        !Number(facts, "type", 0, 255, &type) ||
        !Number(facts, "raw_length", 0, kRawFileCapacity, &g_loader.raw_file_length) ||
        !Number(facts, "image_length", 0, kImageCapacity, &g_loader.image_length) ||
        !Number(facts, "data_lowest", -1, kImageCapacity, &g_loader.data_lowest) ||
        !Number(facts, "data_end", 0, kImageCapacity, &g_loader.data_end) ||
        !Number(facts, "data_below", 0, kImageCapacity, &g_loader.data_below_first_offset) ||
        !ReadInput(g_loader.raw_file, g_loader.raw_file_length) || !ReadInput(g_loader.image, g_loader.image_length)) {
        g_console.last_box = "tavboot: " + file + ": the image did not reach this port's process";
        std::fprintf(stderr, "%s\n", g_console.last_box.c_str());
        return 0;
    }
    g_loader.type_letter = uint8_t(type);
    g_loader.image_loaded = 1;
    g_console.path = file;
    return 1;
}

int RunDownloadWorker(const WorkerCall& call) {
    const double started = MonotonicSeconds();
    if (call.image_input && !TakeImageInput(call.file)) {
        ReportWorkerResult(kExitFailed, 1, MonotonicSeconds() - started);
        return kExitFailed;
    }
    int attempts = 1;
    const int status = DownloadWithRetries(call.device, call.file, "download", &attempts);
    ReportWorkerResult(status, attempts, MonotonicSeconds() - started);
    return status;
}

void AddField(WorkerEvent* event, const char* key, InfoField field) {
    const std::string value = FieldValue(field);
    if (value.find_first_not_of(' ') != std::string::npos) event->fields.emplace_back(key, value);
}

}  // namespace

std::vector<std::string> WorkerArguments(const char* job, const DeviceOptions& device, const std::string& file,
                                         bool image_input) {
    std::vector<std::string> arguments = {job, "--port", device.port, "--retries", std::to_string(device.retries)};
    if (!device.boot_value.empty()) arguments.insert(arguments.end(), {"--boot-value", device.boot_value});
    if (!device.unlock_key.empty()) arguments.insert(arguments.end(), {"--unlock-key", device.unlock_key});
    if (device.trace) arguments.push_back("--trace");
    if (!device.expect_platform.empty())
        arguments.insert(arguments.end(), {"--expect-platform", device.expect_platform});
    if (!device.expect_hw_version.empty())
        arguments.insert(arguments.end(), {"--expect-hw-version", device.expect_hw_version});
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", device.verify_app);
    arguments.insert(arguments.end(), {"--verify-app", seconds});
    std::snprintf(seconds, sizeof seconds, "%g", device.removal_time);
    arguments.insert(arguments.end(), {"--removal-time", seconds});
    if (!RunLogPath().empty()) arguments.insert(arguments.end(), {"--log", RunLogPath()});
    if (!GivenStation().empty()) arguments.insert(arguments.end(), {"--station", GivenStation()});
    if (!GivenOperator().empty()) arguments.insert(arguments.end(), {"--operator", GivenOperator()});
    if (image_input) arguments.push_back("--image-input");
    arguments.insert(arguments.end(), {"--file", file});
    return arguments;
}

std::string LoadedImageInput() {
    std::string input = FormatWorkerEvent({"image", {{"type", std::to_string(g_loader.type_letter)},
                                                     {"raw_length", std::to_string(g_loader.raw_file_length)},
                                                     {"image_length", std::to_string(g_loader.image_length)},
                                                     {"data_lowest", std::to_string(g_loader.data_lowest)},
                                                     {"data_end", std::to_string(g_loader.data_end)},
                                                     {"data_below", std::to_string(g_loader.data_below_first_offset)}}});
    input.append(reinterpret_cast<const char*>(g_loader.raw_file), size_t(g_loader.raw_file_length));
    input.append(reinterpret_cast<const char*>(g_loader.image), size_t(g_loader.image_length));
    return input;
}

int IsWorkerCall(int argc, const char* const* argv) { return argc > 1 && std::strcmp(argv[1], "--worker") == 0; }

int RunWorker(int argc, const char* const* argv) {
    WorkerCall call;
    if (!ParseWorkerCall(argc, argv, &call)) {
        std::fprintf(stderr, "tavboot: --worker is started by tavboot itself\n");
        return kExitUsage;
    }
    PrepareWorkerProcess();
    SetRecordOrigin(call.station, call.operator_name);
    std::string why;
    if (!call.log.empty() && !OpenRunLog(call.log, &why)) return FailBeforeRun(why, false);
    g_is_worker = 1;
    g_status_listener = ReportStatus;
    SetInterruptReport(FormatWorkerEvent({"result", {{"outcome", OutcomeKey(kOutcomeInterrupted)},
                                                     {"status", std::to_string(kExitInterrupted)},
                                                     {"message", InterruptNotice()}}}));
    if (call.job == "station" && call.image_input && !TakeImageInput(call.file)) return kExitFailed;
    if (call.job == "station") return ServeStationPort(call.device, call.file);
    return RunDownloadWorker(call);
}

int ReportWorkerEvent(const WorkerEvent& event) {
    // A download on one port tells an event stream itself.
    if (!g_is_worker) return EmitEvent(g_loader.port_name, event), 1;
    const std::string line = FormatWorkerEvent(event);
    return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0;
}

int ReportWorkerResult(int status, int attempts, double seconds) {
    char seconds_text[32];
    std::snprintf(seconds_text, sizeof seconds_text, "%.3f", seconds);
    WorkerEvent result{"result",
                       {{"outcome", OutcomeKey(g_loader.outcome)},
                        {"status", std::to_string(status)},
                        {"attempts", std::to_string(attempts)},
                        {"seconds", seconds_text},
                        {"system_error", std::to_string(g_loader.system_error)},
                        {"message", ResultMessage()}}};
    AddField(&result, "hw_platform", HwPlatformField);
    AddField(&result, "hw_version", HwVersionField);
    AddField(&result, "boot_sw_version", BootSwVersionField);
    AddField(&result, "application", ApplicationInfoField);
    AddField(&result, "fw_version", FwVersionField);
    if (g_loader.answer_count) result.fields.emplace_back("answer_delay_ms", std::to_string(g_loader.answer_delay_ms));
    if (!LastRecordText().empty()) result.fields.emplace_back("record", LastRecordText());
    g_reported_pages = 0;
    return ReportWorkerEvent(result);
}
