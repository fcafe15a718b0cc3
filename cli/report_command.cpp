// tavboot report: the run logs of a shift read into yields, failures and times, as tables or one JSON object.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "console/console.h"
#include "report/report.h"

int RunReport(const std::vector<std::string>& logs, const std::string& since, const std::string& until, bool json) {
    ReportFigures figures;
    if (!since.empty()) ReadReportTime(since, &figures.since);
    if (!until.empty()) ReadReportTime(until, &figures.until);
    int read = 0;
    for (const std::string& log : logs) {
        if (AddLogFile(log, &figures)) ++read;
        else std::fprintf(stderr, "tavboot: cannot read the log %s: %s\n", log.c_str(), figures.logs.back().error.c_str());
    }
    if (figures.broken_lines > 0)
        std::fprintf(stderr, "tavboot: %lld broken lines not read, the first at %s:%lld: %s\n",
                     static_cast<long long>(figures.broken_lines), figures.broken[0].file.c_str(),
                     static_cast<long long>(figures.broken[0].line), figures.broken[0].reason.c_str());
    const std::string report = json ? ReportJson(figures) + "\n" : ReportText(figures);
    std::fputs(report.c_str(), stdout);
    return read > 0 ? kExitOk : kExitFailed;
}
