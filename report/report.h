// The shift report: run logs read record by record into the figures a production engineer asks for.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What one log record says, as far as the figures need it. Keys a record lacks stay empty
// (older versions of the tool wrote fewer keys); keys it has beyond these are ignored.
struct LogRecord {
    std::string time;  // "2026-12-07T12:26:43.141Z", UTC
    std::string operation;
    std::string port;
    std::string file;
    std::string image_sha256;
    std::string result;  // "ok", "failed", "interrupted"
    std::string message;
    bool has_operation = false;
    bool has_result = false;
    double attempts = 1;  // records written before retries counted them made one attempt
    bool has_seconds = false;
    double seconds = 0;
    bool has_answer_delay = false;
    double answer_delay_ms = 0;
};

// Reads one line of a log into *record. Returns "" when it is a record, else why it is not
// ("not JSON", "not a JSON object", "no operation", "no result").
std::string ReadLogLine(const std::string& line, LogRecord* record);

// A time given on the command line: a date (2026-12-07) or a time in the log's format cut
// anywhere after the hour (2026-12-07T14, 2026-12-07T14:30, 2026-12-07 14:30:05.250Z).
// Returns 1 and the text in the log's own spelling (without the Z) in *canonical.
int ReadReportTime(const std::string& text, std::string* canonical);

// Counts of one group of boards. A board is one record of a download or station operation;
// its retries are the attempts inside that record.
struct BoardCounts {
    int64_t ok = 0;
    int64_t failed = 0;
    int64_t interrupted = 0;
    int64_t first_pass_ok = 0;  // ok on the first attempt
};

struct LateAnswers {
    std::vector<double> delays_ms;  // every answer_delay_ms logged for the port
};

struct Firmware {
    std::string image_sha256;  // empty: not logged (older records, a file not loaded)
    std::vector<std::string> files;
    BoardCounts counts;
};

struct BrokenLine {
    std::string file;
    int64_t line;
    std::string reason;
};

struct LogFileSummary {
    std::string file;
    std::string error;  // why it could not be read; empty when it was
    int64_t records = 0;
    int64_t broken_lines = 0;
};

// Everything the report prints, gathered record by record.
struct ReportFigures {
    std::string since;  // canonical bounds, empty when not given
    std::string until;
    std::vector<LogFileSummary> logs;
    int64_t records = 0;           // records read
    int64_t outside_range = 0;     // records left out by --since/--until (or without a time when given)
    int64_t broken_lines = 0;
    std::vector<BrokenLine> broken;  // the first kBrokenLinesNamed of them
    std::string first_time;
    std::string last_time;
    BoardCounts all;
    std::map<std::string, BoardCounts> ports;
    std::map<std::string, Firmware> firmware;  // by SHA-256, or by file name where none was logged
    std::map<int, BoardCounts> hours;          // hour of the day (UTC); -1: no time logged
    std::map<std::string, int64_t> failures;   // failed boards by message
    std::vector<double> seconds;               // of each successful download
    std::map<std::string, LateAnswers> answers;
    std::map<std::string, BoardCounts> other_operations;  // hwinfo, appinfo, ...: not boards
};

const size_t kBrokenLinesNamed = 20;
// Answers this late (median of an operation, ms) count as late, as the download's slow-line advice says.
const double kLateAnswerMs = 5;

// Adds one log file to *figures. Returns 0 (with LogFileSummary::error) when it cannot be opened.
int AddLogFile(const std::string& path, ReportFigures* figures);
// Adds one record read from the log (file, line) to *figures, unless --since/--until leave it out.
void AddRecord(const LogRecord& record, ReportFigures* figures);

// Figures derived from the counts.
double YieldPercent(int64_t part, const BoardCounts& counts);  // of ok + failed; -1 when none
double Median(std::vector<double> values);
double Percentile95(std::vector<double> values);  // nearest rank
int64_t LateCount(const LateAnswers& answers);

std::string ReportText(const ReportFigures& figures);
std::string ReportJson(const ReportFigures& figures);
