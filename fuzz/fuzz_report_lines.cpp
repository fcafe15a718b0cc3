// Fuzz target: log lines of any bytes read into the shift report, and times as --since takes them.
#include <string>

#include "fuzz/fuzz_support.h"
#include "report/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ReportFigures figures;
    std::string canonical;
    // The first line is also a time: one taken once is taken again as it is.
    const std::string first = text.substr(0, text.find('\n'));
    if (ReadReportTime(first, &canonical)) {
        std::string again;
        Require(ReadReportTime(canonical, &again) && again == canonical, "a time read is read again the same");
        figures.since = canonical;
    }
    LogRecord record;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string why = ReadLogLine(text.substr(start, end - start), &record);
        if (why.empty()) AddRecord(record, &figures);
        start = end + 1;
    }
    const BoardCounts& all = figures.all;
    Require(all.first_pass_ok <= all.ok, "first-pass boards are ok boards");
    Require(ReportText(figures).find("\nBoards\n") != std::string::npos, "the text has its tables");
    Require(!ReportJson(figures).empty(), "the object is written");
    return 0;
}
