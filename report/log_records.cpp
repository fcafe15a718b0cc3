// One line of a run log read into the few fields the report needs, without building the whole document.
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "report/report.h"

namespace {

enum Field { kNone, kTime, kOperation, kPort, kFile, kSha256, kResult, kMessage, kAttempts, kSeconds, kAnswerDelay };

// Called for each of the twenty keys of every record: lengths are compared before letters.
Field FieldNamed(const std::string& key) {
    static const struct {
        std::string_view name;
        Field field;
    } kFields[] = {{"time", kTime},       {"operation", kOperation}, {"port", kPort},
                   {"file", kFile},       {"image_sha256", kSha256}, {"result", kResult},
                   {"message", kMessage}, {"attempts", kAttempts},   {"seconds", kSeconds},
                   {"answer_delay_ms", kAnswerDelay}};
    const std::string_view wanted = key;
    for (const auto& entry : kFields)
        if (wanted == entry.name) return entry.field;
    return kNone;
}

// Events of the parser: only the values of the top object's keys above are kept; a value
// of another type than the tool writes counts as absent.
class RecordReader : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit RecordReader(LogRecord* record) : record_(record) {}
    bool top_object = false;

    bool null() override { return Take(); }
    bool boolean(bool) override { return Take(); }
    bool number_integer(number_integer_t value) override { return Number(double(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(double(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Number(value); }
    bool string(string_t& value) override {
        std::string* text = TextField();
        if (text && depth_ == 1) text->assign(value);  // a known key's value of another type is absent
        if (depth_ == 1 && field_ == kOperation) record_->has_operation = true;
        if (depth_ == 1 && field_ == kResult) record_->has_result = true;
        return Take();
    }
    bool binary(binary_t&) override { return Take(); }
    bool start_object(std::size_t) override {
        if (depth_ == 0) top_object = true;
        ++depth_;
        return top_object;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) field_ = FieldNamed(name);
        return true;
    }
    bool end_object() override { return Leave(); }
    bool start_array(std::size_t) override {
        ++depth_;
        return depth_ > 1;
    }
    bool end_array() override { return Leave(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    std::string* TextField() {
        switch (field_) {
        case kTime: return &record_->time;
        case kOperation: return &record_->operation;
        case kPort: return &record_->port;
        case kFile: return &record_->file;
        case kSha256: return &record_->image_sha256;
        case kResult: return &record_->result;
        case kMessage: return &record_->message;
        default: return nullptr;
        }
    }
    bool Number(double value) {
        if (depth_ == 1 && field_ == kAttempts) record_->attempts = value;
        if (depth_ == 1 && field_ == kSeconds) {
            record_->seconds = value;
            record_->has_seconds = true;
        }
        if (depth_ == 1 && field_ == kAnswerDelay) {
            record_->answer_delay_ms = value;
            record_->has_answer_delay = true;
        }
        return Take();
    }
    // A value at the top is no record.
    bool Take() { return depth_ > 0; }
    bool Leave() {
        --depth_;
        return true;
    }
    LogRecord* record_;
    int depth_ = 0;
    Field field_ = kNone;
};

int DigitsAt(const std::string& text, size_t at, size_t count, int low, int high) {
    if (text.size() < at + count) return 0;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
        value = value * 10 + (text[i] - '0');
    }
    return value >= low && value <= high;
}

}  // namespace

std::string ReadLogLine(const std::string& line, LogRecord* record) {
    // The strings keep their room from the line before.
    for (std::string* text : {&record->time, &record->operation, &record->port, &record->file, &record->image_sha256,
                              &record->result, &record->message})
        text->clear();
    record->has_operation = record->has_result = record->has_seconds = record->has_answer_delay = false;
    record->attempts = 1;
    RecordReader reader(record);
    const bool whole = nlohmann::json::sax_parse(line, &reader, nlohmann::json::input_format_t::json, true);
    if (!whole || !reader.top_object) {
        const size_t first = line.find_first_not_of(" \t");
        return first != std::string::npos && line[first] == '{' ? "not JSON (cut short?)" : "not a JSON object";
    }
    if (!record->has_operation) return "no operation";
    if (!record->has_result) return "no result";
    return "";
}

int ReadReportTime(const std::string& text, std::string* canonical) {
    std::string time = text;
    if (!time.empty() && (time.back() == 'Z' || time.back() == 'z')) time.pop_back();
    if (time.size() > 10 && time[10] == ' ') time[10] = 'T';
    if (time.size() < 10 || !DigitsAt(time, 0, 4, 0, 9999) || time[4] != '-' || !DigitsAt(time, 5, 2, 1, 12) ||
        time[7] != '-' || !DigitsAt(time, 8, 2, 1, 31))
        return 0;
    if (time.size() != 10 && time.size() != 13 && time.size() != 16 && time.size() != 19 && time.size() != 23)
        return 0;
    // Each further part of the log's "YYYY-MM-DDTHH:MM:SS.mmm", with its separator and its range.
    static const struct {
        size_t at;
        char separator;
        size_t digits;
        int high;
    } kParts[] = {{10, 'T', 2, 23}, {13, ':', 2, 59}, {16, ':', 2, 60}, {19, '.', 3, 999}};
    for (const auto& part : kParts)
        if (time.size() > part.at &&
            (time[part.at] != part.separator || !DigitsAt(time, part.at + 1, part.digits, 0, part.high)))
            return 0;
    *canonical = time;
    return 1;
}
