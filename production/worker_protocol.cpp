// The workers' event lines: written and read in one fixed format, and a worker judged by its result event.
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "core/outcome.h"
#include "production/worker.h"

namespace {

// Tab, line ends and the backslash itself are written as \t, \n, \r and \\.
std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

int Unescape(const std::string& text, std::string* out) {
    out->clear();
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\\') {
            *out += text[at];
            continue;
        }
        if (++at == text.size()) return 0;
        const char c = text[at];
        if (c == 't') *out += '\t';
        else if (c == 'n') *out += '\n';
        else if (c == 'r') *out += '\r';
        else if (c == '\\') *out += '\\';
        else return 0;
    }
    return 1;
}

// A whole decimal number, nothing else.
int ParseInteger(const std::string& text, int* value) {
    if (text.empty()) return 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || parsed < -1000000 || parsed > 1000000) return 0;
    *value = int(parsed);
    return 1;
}

const char kNoResult[] = "the port's process ended without a result";
const char kMalformedResult[] = "the port's process sent a result that cannot be read";

}  // namespace

std::string WorkerEvent::Field(const std::string& key) const {
    for (const auto& field : fields)
        if (field.first == key) return field.second;
    return "";
}

std::string FormatWorkerEvent(const WorkerEvent& event) {
    std::string line = event.name;
    for (const auto& field : event.fields) line += "\t" + field.first + "=" + Escape(field.second);
    return line + "\n";
}

int ParseWorkerEvent(const std::string& line, WorkerEvent* event) {
    event->fields.clear();
    size_t at = line.find('\t');
    event->name = line.substr(0, at);
    if (event->name.empty() || event->name.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != std::string::npos)
        return 0;
    while (at != std::string::npos) {
        const size_t next = line.find('\t', at + 1);
        const std::string field = line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        const size_t equals = field.find('=');
        std::string value;
        if (equals == 0 || equals == std::string::npos || !Unescape(field.substr(equals + 1), &value)) return 0;
        event->fields.emplace_back(field.substr(0, equals), value);
        at = next;
    }
    return 1;
}

WorkerVerdict JudgeWorker(const WorkerEvent* result, int exit_status) {
    if (!result) return {exit_status == kExitOk ? kExitFailed : exit_status, "", kNoResult};
    int status = kExitFailed;
    const std::string outcome = result->Field("outcome");
    if (!ParseInteger(result->Field("status"), &status) || OutcomeFromKey(outcome.c_str()) == kOutcomeCount)
        return {exit_status == kExitOk ? kExitFailed : exit_status, "", kMalformedResult};
    // Success needs all three to agree: the outcome, the reported status and the process's end.
    if (status == kExitOk && (outcome != OutcomeKey(kOutcomeOk) || exit_status != kExitOk))
        status = exit_status == kExitOk ? kExitFailed : exit_status;
    return {status, outcome, result->Field("message")};
}

int TakeWorkerLine(std::string* text, std::string* line) {
    const size_t end = text->find('\n');
    if (end == std::string::npos) return 0;
    *line = text->substr(0, end && (*text)[end - 1] == '\r' ? end - 1 : end);
    text->erase(0, end + 1);
    return 1;
}

int TakeWorkerEvent(std::string* text, WorkerEvent* event) {
    std::string line;
    while (TakeWorkerLine(text, &line))
        if (ParseWorkerEvent(line, event)) return 1;
    return 0;
}
