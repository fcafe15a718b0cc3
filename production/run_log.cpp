// The run log: one JSON line per port operation, appended with one write so parallel ports never interleave.
#include "production/production.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "console/console.h"
#include "console/json_output.h"
#include "core/loader_state.h"
#include "image/image_digest.h"
#include "production/run_log_file.h"
#include "production/worker.h"

namespace {

int g_log_file = -1;
std::string g_log_path;
std::string g_log_error;
std::string g_result_note;
std::string g_station;
std::string g_operator;
std::string g_last_record;  // the text of the latest record, written to a log or not

// The interrupted record in two parts around its seconds, ready for a signal handler.
const double kSecondsMark = 987654.321;  // kInterruptSecondsMark
char g_interrupt_head[8192];
char g_interrupt_tail[512];
size_t g_interrupt_head_length = 0;
size_t g_interrupt_tail_length = 0;
double g_interrupt_started = 0;
LogEntry g_interrupt_entry = {"", "", "", kExitInterrupted, 0, 0};

// Writes seconds (>= 0) with three decimals into out; returns the length written.
size_t FormatMillis(double seconds, char* out) {
    unsigned long millis = static_cast<unsigned long>(seconds * 1000 + 0.5);
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = char('0' + millis % 10);
        millis /= 10;
    } while (millis || count < 4);
    size_t length = 0;
    for (size_t i = count; i-- > 0;) {
        out[length++] = digits[i];
        if (i == 3) out[length++] = '.';
    }
    return length;
}

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
    return DeviceTextUtf8(value);
}

const char* ResultName(int status) {
    if (status == kExitOk) return "ok";
    if (status == kExitInterrupted) return "interrupted";
    return "failed";
}

}  // namespace

int OpenRunLog(const std::string& path, std::string* why) {
    g_log_file = OpenAppendFile(path.c_str());
    g_log_path = path;
    if (g_log_file >= 0) return 1;
    // EBUSY: another program opened the file without letting others write to it.
    *why = "cannot open the log " + path + ": " +
           (g_log_file == kNotARegularFile ? "not a regular file (a folder, a device or a FIFO)"
            : errno == EBUSY               ? "held by another program"
                                           : std::strerror(errno));
    g_log_file = -1;
    return 0;
}

const std::string& RunLogPath() { return g_log_path; }

void SetRecordOrigin(const std::string& station, const std::string& operator_name) {
    g_station = station;
    g_operator = operator_name;
}

const std::string& GivenStation() { return g_station; }

const std::string& GivenOperator() { return g_operator; }

const std::string& RunLogError() { return g_log_error; }

void SetResultNote(const std::string& note) { g_result_note = note; }

std::string ResultMessage() {
    if (!g_result_note.empty()) return g_result_note;
    return g_log_error.empty() || g_loader.outcome != kOutcomeOk ? g_console.last_box : g_log_error;
}

std::string LogRecordText(const LogEntry& entry) {
    nlohmann::json record = {{"time", UtcNow()},          {"host", HostName()},  {"tavboot", std::string(kTavbootVersion)},
                             {"operation", entry.operation}, {"port", NameUtf8(entry.port)}, {"file", nullptr},
                             {"image_length", nullptr},   {"pages", nullptr},    {"image_sha256", nullptr}};
    if (!entry.file.empty()) record["file"] = NameUtf8(entry.file);
    if (!entry.file.empty() && g_loader.image_loaded) {
        record["image_length"] = g_loader.image_length;
        record["pages"] = SentPageCount(g_loader.image_length);
        char sha256[65];
        ComputeSentImageSha256(sha256);
        if (record["pages"] != 0) record["image_sha256"] = sha256;
    }
    record["hw_platform"] = FieldOrNull(HwPlatformField);
    record["hw_version"] = FieldOrNull(HwVersionField);
    record["boot_sw_version"] = FieldOrNull(BootSwVersionField);
    record["app_name"] = FieldOrNull(ApplicationInfoField);
    record["fw_version"] = FieldOrNull(FwVersionField);
    record["result"] = ResultName(entry.status);
    record["message"] = entry.status == kExitOk ? "" : g_result_note.empty() ? g_console.last_box : g_result_note;
    record["outcome"] = OutcomeKey(entry.status == kExitInterrupted ? kOutcomeInterrupted : g_loader.outcome);
    record["attempts"] = entry.attempts;
    record["seconds"] = std::round(entry.seconds * 1000) / 1000;
    record["answer_delay_ms"] = AnswerDelayOrNull();
    record["schema"] = kSchema;
    const std::string station = g_station.empty() ? HostName() : g_station;
    const std::string operator_name = g_operator.empty() ? UserName() : g_operator;
    record["station"] = station.empty() ? nlohmann::json() : nlohmann::json(NameUtf8(station));
    record["operator"] = operator_name.empty() ? nlohmann::json() : nlohmann::json(NameUtf8(operator_name));
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void PrepareInterruptRecord(const LogEntry& entry, double started) {
    SettleOperation(0);
    g_result_note.clear();
    g_interrupt_entry = entry;
    g_interrupt_entry.status = kExitInterrupted;
    g_interrupt_entry.seconds = kSecondsMark;
    g_interrupt_started = started;
    RefreshInterruptRecord();
}

void RefreshInterruptRecord() {
    g_interrupt_head_length = 0;
    const std::string text = LogRecordText(g_interrupt_entry) + "\n";
    PrepareInterruptEvent(g_interrupt_entry.port, text);
    if (g_log_file < 0) return;
    const size_t mark = text.find("987654.321");
    if (mark == std::string::npos) return;
    const size_t tail = text.size() - mark - 10;
    if (mark >= sizeof g_interrupt_head || tail >= sizeof g_interrupt_tail) return;
    text.copy(g_interrupt_head, mark);
    text.copy(g_interrupt_tail, tail, mark + 10);
    g_interrupt_tail_length = tail;
    g_interrupt_head_length = mark;
}

size_t FormatInterruptSeconds(char* out) { return FormatMillis(MonotonicSeconds() - g_interrupt_started, out); }

void AppendInterruptRecord() {
    if (g_log_file < 0 || g_interrupt_head_length == 0) return;
    static char record[sizeof g_interrupt_head + 32 + sizeof g_interrupt_tail];
    size_t length = g_interrupt_head_length;
    std::memcpy(record, g_interrupt_head, length);
    length += FormatMillis(MonotonicSeconds() - g_interrupt_started, record + length);
    std::memcpy(record + length, g_interrupt_tail, g_interrupt_tail_length);
    AppendWhole(g_log_file, record, length + g_interrupt_tail_length);
}

// An interrupt waits until the record is written: it neither cuts the record nor adds a false one.
int WriteLogRecord(const LogEntry& entry) {
    HoldInterrupts(1);
    SettleOperation(1);
    g_interrupt_head_length = 0;
    int written = 1;
    g_last_record = LogRecordText(entry);
    if (g_log_file >= 0) {
        const std::string record = g_last_record + "\n";
        written = AppendWhole(g_log_file, record.data(), record.size());
        if (!written) {
            g_result_note.clear();
            g_log_error = "cannot write to the log " + g_log_path + ": " + std::strerror(errno);
            std::fprintf(stderr, "tavboot: %s\n", g_log_error.c_str());
        }
    }
    HoldInterrupts(0);
    EmitEvent(entry.port, {"result", {{"status", std::to_string(entry.status)}, {"record", g_last_record}}});
    return written;
}

const std::string& LastRecordText() { return g_last_record; }

std::string UtcTimeText() { return UtcNow(); }

const char* ResultKey(int status) { return ResultName(status); }
