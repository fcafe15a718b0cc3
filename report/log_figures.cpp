// The report's figures gathered record by record: only counts and the few numbers the medians need are kept.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "report/report.h"

namespace {

bool IsBoardOperation(const std::string& operation) { return operation == "download" || operation == "station"; }

void Count(const LogRecord& record, BoardCounts* counts) {
    if (record.result == "ok") {
        ++counts->ok;
        if (record.attempts <= 1) ++counts->first_pass_ok;
    } else if (record.result == "interrupted") {
        ++counts->interrupted;
    } else {
        ++counts->failed;
    }
}

// The hour of the day of a time in the log's format; -1 when the record has none.
int HourOf(const std::string& time) {
    std::string canonical;
    if (time.size() < 13 || !ReadReportTime(time.substr(0, 13), &canonical)) return -1;
    return (time[11] - '0') * 10 + (time[12] - '0');
}

// --since and --until hold a record whose time begins within the given date, hour, minute, ...
bool InRange(const std::string& time, const ReportFigures& figures) {
    if (figures.since.empty() && figures.until.empty()) return true;
    if (time.empty()) return false;
    if (!figures.since.empty() && time.compare(0, figures.since.size(), figures.since) < 0) return false;
    return figures.until.empty() || time.compare(0, figures.until.size(), figures.until) <= 0;
}

void CountFirmware(const LogRecord& record, ReportFigures* figures) {
    Firmware& firmware = figures->firmware[record.image_sha256.empty() ? "file " + record.file : record.image_sha256];
    firmware.image_sha256 = record.image_sha256;
    if (!record.file.empty() && std::find(firmware.files.begin(), firmware.files.end(), record.file) == firmware.files.end())
        firmware.files.push_back(record.file);
    Count(record, &firmware.counts);
}

}  // namespace

void AddRecord(const LogRecord& record, ReportFigures* figures) {
    if (!InRange(record.time, *figures)) {
        ++figures->outside_range;
        return;
    }
    if (!record.time.empty() && (figures->first_time.empty() || record.time < figures->first_time))
        figures->first_time = record.time;
    if (record.time > figures->last_time) figures->last_time = record.time;
    if (record.has_answer_delay) figures->answers[record.port].delays_ms.push_back(record.answer_delay_ms);
    if (!IsBoardOperation(record.operation)) {
        Count(record, &figures->other_operations[record.operation]);
        return;
    }
    Count(record, &figures->all);
    Count(record, &figures->ports[record.port]);
    Count(record, &figures->hours[HourOf(record.time)]);
    CountFirmware(record, figures);
    if (record.result == "ok" && record.has_seconds) figures->seconds.push_back(record.seconds);
    if (record.result != "ok" && record.result != "interrupted") ++figures->failures[record.message];
}

int AddLogFile(const std::string& path, ReportFigures* figures) {
    figures->logs.push_back(LogFileSummary());
    LogFileSummary& summary = figures->logs.back();
    summary.file = path;
    const std::filesystem::path name = std::filesystem::u8path(path);
    std::error_code ignored;
    if (std::filesystem::is_directory(name, ignored)) {
        summary.error = "is a directory";
        return 0;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        summary.error = std::strerror(errno);
        return 0;
    }
    std::string line;
    LogRecord record;
    for (int64_t number = 1; std::getline(in, line); ++number) {
        // A line end of CR LF (a log copied from Windows) is white space to JSON.
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const std::string why = ReadLogLine(line, &record);
        if (!why.empty()) {
            ++summary.broken_lines;
            if (figures->broken.size() < kBrokenLinesNamed) figures->broken.push_back({path, number, why});
            continue;
        }
        ++summary.records;
        AddRecord(record, figures);
    }
    figures->records += summary.records;
    figures->broken_lines += summary.broken_lines;
    return 1;
}

double YieldPercent(int64_t part, const BoardCounts& counts) {
    const int64_t boards = counts.ok + counts.failed;
    return boards == 0 ? -1 : std::round(1000.0 * double(part) / double(boards)) / 10;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2) return upper;
    return (*std::max_element(values.begin(), values.begin() + std::ptrdiff_t(middle)) + upper) / 2;
}

double Percentile95(std::vector<double> values) {
    if (values.empty()) return 0;
    const size_t rank = size_t(std::ceil(0.95 * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(rank - 1), values.end());
    return values[rank - 1];
}

int64_t LateCount(const LateAnswers& answers) {
    return std::count_if(answers.delays_ms.begin(), answers.delays_ms.end(), [](double ms) { return ms >= kLateAnswerMs; });
}
