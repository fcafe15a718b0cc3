// The report as aligned tables for people and as one JSON object for programs.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "report/report.h"

namespace {

using Row = std::vector<std::string>;

// Columns marked 'l' in align are left-aligned, the others right-aligned; the last one is not padded.
std::string TableText(const std::vector<Row>& rows, const std::string& align) {
    std::vector<size_t> widths(align.size(), 0);
    for (const Row& row : rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    std::string text;
    for (const Row& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - row[i].size(), ' ');
            if (i > 0) line += "  ";
            line += align[i] == 'l' ? row[i] + (i + 1 < row.size() ? pad : "") : pad + row[i];
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return text;
}

std::string Number(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string YieldText(int64_t part, const BoardCounts& counts) {
    const double percent = YieldPercent(part, counts);
    return percent < 0 ? "-" : Number(percent, "%.1f %%");
}

const Row kCountHeads = {"boards", "ok", "failed", "interrupted", "first-pass yield", "final yield"};

Row CountCells(const BoardCounts& counts) {
    return {std::to_string(counts.ok + counts.failed + counts.interrupted), std::to_string(counts.ok),
            std::to_string(counts.failed), std::to_string(counts.interrupted),
            YieldText(counts.first_pass_ok, counts), YieldText(counts.ok, counts)};
}

Row Joined(Row head, const Row& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Port names with their numbers in numeric order: ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t end_a = i, end_b = j;
            while (end_a < a.size() && std::isdigit(static_cast<unsigned char>(a[end_a]))) ++end_a;
            while (end_b < b.size() && std::isdigit(static_cast<unsigned char>(b[end_b]))) ++end_b;
            const std::string number_a = a.substr(i, end_a - i), number_b = b.substr(j, end_b - j);
            if (number_a.size() != number_b.size()) return number_a.size() < number_b.size();
            if (number_a != number_b) return number_a < number_b;
            i = end_a;
            j = end_b;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

template <typename Value>
std::vector<std::string> PortsInOrder(const std::map<std::string, Value>& by_port) {
    std::vector<std::string> ports;
    for (const auto& entry : by_port) ports.push_back(entry.first);
    std::sort(ports.begin(), ports.end(), NaturalLess);
    return ports;
}

int64_t Boards(const BoardCounts& counts) { return counts.ok + counts.failed + counts.interrupted; }

// Most boards first.
std::vector<const Firmware*> FirmwareInOrder(const ReportFigures& figures) {
    std::vector<const Firmware*> list;
    for (const auto& entry : figures.firmware) list.push_back(&entry.second);
    std::stable_sort(list.begin(), list.end(),
                     [](const Firmware* a, const Firmware* b) { return Boards(a->counts) > Boards(b->counts); });
    return list;
}

// Most frequent first; equal counts in the order of their messages.
std::vector<std::pair<std::string, int64_t>> FailuresInOrder(const ReportFigures& figures) {
    std::vector<std::pair<std::string, int64_t>> list(figures.failures.begin(), figures.failures.end());
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return list;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FileNames(const Firmware& firmware) {
    std::vector<std::string> names;
    for (const std::string& file : firmware.files)
        if (std::find(names.begin(), names.end(), BaseName(file)) == names.end()) names.push_back(BaseName(file));
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "-" : text;
}

std::string HourText(int hour) {
    if (hour < 0) return "no time";
    char text[32];
    std::snprintf(text, sizeof text, "%02d:00-%02d:59", hour, hour);
    return text;
}

std::string LogsText(const ReportFigures& figures) {
    std::vector<Row> rows = {{"log", "records", "broken lines", ""}};
    for (const LogFileSummary& log : figures.logs)
        rows.push_back({log.file, std::to_string(log.records), std::to_string(log.broken_lines),
                        log.error.empty() ? "" : "not read: " + log.error});
    return TableText(rows, "lrrl");
}

std::string BoardsText(const ReportFigures& figures) {
    std::string text = "\nBoards\n" + TableText({kCountHeads, CountCells(figures.all)}, "rrrrrr") +
                       "(a board is one download or station record, its retries inside it; first-pass yield: ok at\n"
                       "the first attempt, final yield: ok at all, both of the ok and failed boards)\n";
    std::vector<Row> rows = {Joined({"port"}, kCountHeads)};
    for (const std::string& port : PortsInOrder(figures.ports))
        rows.push_back(Joined({port}, CountCells(figures.ports.at(port))));
    text += "\nBy port\n" + TableText(rows, "lrrrrrr");
    rows = {Joined({"firmware (SHA-256)"}, Joined(kCountHeads, {"files"}))};
    for (const Firmware* firmware : FirmwareInOrder(figures))
        rows.push_back(Joined({firmware->image_sha256.empty() ? "-" : firmware->image_sha256.substr(0, 12)},
                              Joined(CountCells(firmware->counts), {FileNames(*firmware)})));
    text += "\nBy firmware\n" + TableText(rows, "lrrrrrrl");
    rows = {Joined({"hour (UTC)"}, kCountHeads)};
    for (const auto& hour : figures.hours) rows.push_back(Joined({HourText(hour.first)}, CountCells(hour.second)));
    return text + "\nBy hour of the day\n" + TableText(rows, "lrrrrrr");
}

std::string FailuresText(const ReportFigures& figures) {
    std::vector<Row> rows = {{"boards", "message"}};
    for (const auto& failure : FailuresInOrder(figures))
        rows.push_back({std::to_string(failure.second), failure.first.empty() ? "(no message)" : failure.first});
    return "\nFailures by message, most frequent first\n" + (rows.size() > 1 ? TableText(rows, "rl") : "none\n");
}

std::string SecondsText(const ReportFigures& figures) {
    if (figures.seconds.empty()) return "\nSeconds per successful download\nnone\n";
    return "\nSeconds per successful download\n" +
           TableText({{"downloads", "median", "95th percentile"},
                      {std::to_string(figures.seconds.size()), Number(Median(figures.seconds), "%.3f"),
                       Number(Percentile95(figures.seconds), "%.3f")}},
                     "rrr");
}

std::string LateText(const ReportFigures& figures) {
    std::string text = "\nPorts whose answers came late (5 ms or more beyond their time on the wire, median of an "
                       "operation)\n";
    std::vector<Row> rows = {{"port", "operations", "late", "median ms", "max ms"}};
    for (const std::string& port : PortsInOrder(figures.answers)) {
        const LateAnswers& answers = figures.answers.at(port);
        if (LateCount(answers) == 0) continue;
        rows.push_back({port, std::to_string(answers.delays_ms.size()), std::to_string(LateCount(answers)),
                        Number(Median(answers.delays_ms), "%g"),
                        Number(*std::max_element(answers.delays_ms.begin(), answers.delays_ms.end()), "%g")});
    }
    if (rows.size() > 1) return text + TableText(rows, "lrrrr");
    return text + (figures.answers.empty() ? "none logged (older records do not say)\n" : "none\n");
}

std::string OthersText(const ReportFigures& figures) {
    std::vector<Row> rows = {{"operation", "operations", "ok", "failed", "interrupted"}};
    for (const auto& entry : figures.other_operations) {
        const BoardCounts& counts = entry.second;
        rows.push_back({entry.first, std::to_string(Boards(counts)), std::to_string(counts.ok),
                        std::to_string(counts.failed), std::to_string(counts.interrupted)});
    }
    return "\nQueries and other operations (hwinfo, appinfo: no boards)\n" +
           (rows.size() > 1 ? TableText(rows, "lrrrr") : "none\n");
}

std::string BrokenText(const ReportFigures& figures) {
    if (figures.broken_lines == 0) return "";
    std::string text = "\nBroken lines, not read: " + std::to_string(figures.broken_lines) + "\n";
    for (const BrokenLine& line : figures.broken)
        text += "  " + line.file + ":" + std::to_string(line.line) + ": " + line.reason + "\n";
    if (figures.broken_lines > int64_t(figures.broken.size()))
        text += "  and " + std::to_string(figures.broken_lines - int64_t(figures.broken.size())) + " more\n";
    return text;
}

nlohmann::json CountsJson(const BoardCounts& counts) {
    const auto yield = [&counts](int64_t part) {
        const double percent = YieldPercent(part, counts);
        return percent < 0 ? nlohmann::json() : nlohmann::json(percent);
    };
    return {{"boards", Boards(counts)},
            {"ok", counts.ok},
            {"failed", counts.failed},
            {"interrupted", counts.interrupted},
            {"first_pass_ok", counts.first_pass_ok},
            {"first_pass_yield_percent", yield(counts.first_pass_ok)},
            {"final_yield_percent", yield(counts.ok)}};
}

nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

nlohmann::json With(nlohmann::json object, const nlohmann::json& more) {
    object.update(more);
    return object;
}

nlohmann::json GroupsJson(const ReportFigures& figures) {
    nlohmann::json groups = {{"ports", nlohmann::json::array()}, {"firmware", nlohmann::json::array()},
                             {"hours", nlohmann::json::array()}};
    for (const std::string& port : PortsInOrder(figures.ports))
        groups["ports"].push_back(With(CountsJson(figures.ports.at(port)), {{"port", port}}));
    for (const Firmware* firmware : FirmwareInOrder(figures))
        groups["firmware"].push_back(With(CountsJson(firmware->counts),
            {{"image_sha256", TextOrNull(firmware->image_sha256)},
             {"firmware", TextOrNull(firmware->image_sha256.substr(0, 12))},
             {"files", firmware->files}}));
    for (const auto& hour : figures.hours)
        groups["hours"].push_back(With(CountsJson(hour.second),
            {{"hour", hour.first < 0 ? nlohmann::json() : nlohmann::json(hour.first)}}));
    return groups;
}

}  // namespace

std::string ReportText(const ReportFigures& figures) {
    std::string text = "tavboot report: " + std::to_string(figures.records) + " records read";
    if (figures.outside_range) text += ", " + std::to_string(figures.outside_range) + " outside the time range";
    text += ", " + std::to_string(figures.broken_lines) + " broken lines\n";
    if (!figures.first_time.empty()) text += "time (UTC): " + figures.first_time + " to " + figures.last_time + "\n";
    return text + LogsText(figures) + BoardsText(figures) + FailuresText(figures) + SecondsText(figures) +
           LateText(figures) + OthersText(figures) + BrokenText(figures);
}

std::string ReportJson(const ReportFigures& figures) {
    nlohmann::json report = GroupsJson(figures);
    report["schema"] = 1;
    report["since"] = TextOrNull(figures.since);
    report["until"] = TextOrNull(figures.until);
    report["records"] = figures.records;
    report["outside_range"] = figures.outside_range;
    report["first_time"] = TextOrNull(figures.first_time);
    report["last_time"] = TextOrNull(figures.last_time);
    report["boards"] = CountsJson(figures.all);
    report["logs"] = nlohmann::json::array();
    for (const LogFileSummary& log : figures.logs)
        report["logs"].push_back({{"file", log.file}, {"records", log.records}, {"broken_lines", log.broken_lines},
                                  {"error", TextOrNull(log.error)}});
    report["broken_lines"] = figures.broken_lines;
    report["broken"] = nlohmann::json::array();
    for (const BrokenLine& line : figures.broken)
        report["broken"].push_back({{"file", line.file}, {"line", line.line}, {"reason", line.reason}});
    report["failures"] = nlohmann::json::array();
    for (const auto& failure : FailuresInOrder(figures))
        report["failures"].push_back({{"message", failure.first}, {"boards", failure.second}});
    report["seconds"] = figures.seconds.empty()
                            ? nlohmann::json()
                            : nlohmann::json({{"downloads", figures.seconds.size()},
                                              {"median", Median(figures.seconds)},
                                              {"p95", Percentile95(figures.seconds)}});
    report["late_answers"] = nlohmann::json::array();
    for (const std::string& port : PortsInOrder(figures.answers)) {
        const LateAnswers& answers = figures.answers.at(port);
        report["late_answers"].push_back({{"port", port},
                                          {"operations", answers.delays_ms.size()},
                                          {"late", LateCount(answers)},
                                          {"median_ms", Median(answers.delays_ms)},
                                          {"max_ms", *std::max_element(answers.delays_ms.begin(), answers.delays_ms.end())}});
    }
    report["other_operations"] = nlohmann::json::array();
    for (const auto& entry : figures.other_operations)
        report["other_operations"].push_back({{"operation", entry.first},
                                              {"operations", Boards(entry.second)},
                                              {"ok", entry.second.ok},
                                              {"failed", entry.second.failed},
                                              {"interrupted", entry.second.interrupted}});
    return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
