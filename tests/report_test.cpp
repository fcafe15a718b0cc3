// tavboot report over a log the tool itself wrote: every figure counted again here from the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "sim/sim_device.h"
#include "tests/cli_fixture.h"
#include "tests/process_support.h"
#include "tests/test_support.h"

using nlohmann::json;

namespace {

// A record as an older tool wrote it (no outcome, attempts, answer delay, SHA-256), an hour of
// the day before; a record of a newer one with keys this tool does not know; a cut line.
const char kOlderRecord[] =
    R"({"boot_sw_version":null,"file":"old/fw.hex","host":"line3","hw_platform":null,"hw_version":null,)"
    R"("image_length":16384,"image_sha256":null,"message":"BOOT info: Boot safety keys error","operation":"download",)"
    R"("pages":13,"port":"/dev/ttyUSB9","result":"failed","seconds":1.5,"tavboot":"0.0.7","time":"2026-12-06T07:15:00.000Z"})";
const char kNewerRecord[] =
    R"({"schema":1,"station":"line4","operator":"ana","attempts":1,"file":"new.hex","image_sha256":"00aa",)"
    R"("message":"","operation":"download","port":"/dev/ttyUSB9","result":"ok","seconds":2.25,"answer_delay_ms":40,)"
    R"("time":"2026-12-06T07:59:59.999Z","fixture":{"slots":[1,{"result":"failed"}],"port":"slot 1"}})";
// A query whose answers came late: counted apart from the boards, named among the late ports.
const char kLateQueryRecord[] =
    R"({"answer_delay_ms":33,"attempts":1,"file":null,"message":"","operation":"appinfo","port":"/dev/ttyUSB7",)"
    R"("result":"ok","seconds":0.4,"time":"2026-12-06T07:30:00.000Z"})";
const char kCutLine[] = R"({"answer_delay_ms":0,"attempts":1,"boot_sw_ver)";

class ReportTest : public CliTest {
protected:
    // A shift on four ports: one board well, one well on its second try, two failing on both tries;
    // an hwinfo through a slow adapter; then records of other versions and a broken line.
    void WriteShiftLog() {
        const std::string well = StartDevice();
        config.fault = SimFaultSyncCrcFail;
        config.sync_faults = 1;
        const std::string recovers = StartDevice();
        config.sync_faults = 0;
        const std::string crc_fail = StartDevice();
        config.fault = SimFaultBadDataAck;
        config.fault_arg = 3;
        const std::string no_ack = StartDevice();
        RunTavboot({"download", "--retries", "1", "--log", log, "--port", well, "--port", recovers, "--port", crc_fail,
                    "--port", no_ack, kExamples + "sample.hex"});
        RunTavboot({"download", "--log", log, "--port", well, "--port", crc_fail, kExamples + "sample.tvk"});
        SimDefaultConfig(&config);
        config.adapter_latency_ms = 33;
        config.paced = 1;
        slow = StartDevice();
        EXPECT_EQ(RunTavboot({"hwinfo", "--log", log, "--port", slow}).status, 0);
        std::ofstream(log, std::ios::app) << kOlderRecord << "\n" << kCutLine << "\n\n" << kNewerRecord << "\r\n" << kLateQueryRecord << "\n";
    }
    // The records of the log, parsed whole here; the line of the broken one.
    std::vector<json> Records(size_t* broken_line) {
        std::vector<json> records;
        std::ifstream in(log);
        std::string line;
        for (size_t number = 1; std::getline(in, line); ++number) {
            if (line.empty()) continue;
            const json record = json::parse(line, nullptr, false);
            if (record.is_object()) records.push_back(record);
            else *broken_line = number;
        }
        return records;
    }
    std::string log = TempDir() + "/report-shift.log";
    std::string slow;
};

struct Counts {
    int ok = 0, failed = 0, interrupted = 0, first_pass = 0;
};

void Add(const json& record, Counts* counts) {
    const std::string result = record["result"];
    counts->ok += result == "ok";
    counts->failed += result == "failed";
    counts->interrupted += result == "interrupted";
    counts->first_pass += result == "ok" && record.value("attempts", 1) == 1;
}

void ExpectCounts(const json& figures, const Counts& counts, const std::string& group) {
    EXPECT_EQ(figures["ok"], counts.ok) << group;
    EXPECT_EQ(figures["failed"], counts.failed) << group;
    EXPECT_EQ(figures["interrupted"], counts.interrupted) << group;
    EXPECT_EQ(figures["boards"], counts.ok + counts.failed + counts.interrupted) << group;
    EXPECT_EQ(figures["first_pass_ok"], counts.first_pass) << group;
    const double boards = counts.ok + counts.failed;
    EXPECT_DOUBLE_EQ(figures["final_yield_percent"].get<double>(), std::round(1000 * counts.ok / boards) / 10) << group;
    EXPECT_DOUBLE_EQ(figures["first_pass_yield_percent"].get<double>(),
                     std::round(1000 * counts.first_pass / boards) / 10)
        << group;
}

std::string Text(const json& record, const char* key) { return record[key].get<std::string>(); }

bool IsBoard(const json& record) { return record["operation"] == "download" || record["operation"] == "station"; }

json Named(const json& list, const char* key, const json& value) {
    for (const json& entry : list)
        if (entry[key] == value) return entry;
    return json();
}

}  // namespace

TEST_F(ReportTest, EveryFigureMatchesTheRecordsCountedAnotherWay) {
    std::remove(log.c_str());
    WriteShiftLog();
    size_t broken_line = 0;
    const std::vector<json> records = Records(&broken_line);
    ASSERT_EQ(records.size(), 10u);
    const ProcessResult result = RunTavboot({"report", "--json", log});
    ASSERT_EQ(result.status, 0) << result.err;
    const json report = json::parse(result.out);
    EXPECT_EQ(report["schema"], 1);
    EXPECT_EQ(report["records"], 10);
    EXPECT_EQ(report["broken_lines"], 1);
    EXPECT_EQ(report["broken"][0]["file"], log);
    EXPECT_EQ(report["broken"][0]["line"], broken_line);
    EXPECT_NE(result.err.find(log + ":" + std::to_string(broken_line)), std::string::npos) << result.err;

    Counts all;
    std::map<std::string, Counts> ports, firmware, hours, others;
    std::map<std::string, int> failures, late;
    std::vector<double> seconds;
    for (const json& record : records) {
        if (record.contains("answer_delay_ms") && record["answer_delay_ms"].is_number())
            late[Text(record, "port")] += record["answer_delay_ms"].get<double>() >= 5;
        if (!IsBoard(record)) {
            Add(record, &others[Text(record, "operation")]);
            continue;
        }
        Add(record, &all);
        Add(record, &ports[Text(record, "port")]);
        Add(record, &firmware[record["image_sha256"].is_null() ? "" : Text(record, "image_sha256")]);
        Add(record, &hours[Text(record, "time").substr(11, 2)]);
        if (record["result"] == "failed") ++failures[Text(record, "message")];
        if (record["result"] == "ok") seconds.push_back(record["seconds"].get<double>());
    }
    EXPECT_LT(all.first_pass, all.ok) << "a board came through on its second try";
    EXPECT_GE(failures.size(), 3u);
    ExpectCounts(report["boards"], all, "all");
    ASSERT_EQ(report["ports"].size(), ports.size());
    for (const auto& port : ports) ExpectCounts(Named(report["ports"], "port", port.first), port.second, port.first);
    ASSERT_EQ(report["firmware"].size(), firmware.size());
    for (const auto& entry : firmware) {
        const json sha = entry.first.empty() ? json() : json(entry.first);
        ExpectCounts(Named(report["firmware"], "image_sha256", sha), entry.second, entry.first);
    }
    EXPECT_EQ(Named(report["firmware"], "image_sha256", json())["files"], json({"old/fw.hex"}));
    ASSERT_EQ(report["hours"].size(), hours.size());
    for (const auto& hour : hours)
        ExpectCounts(Named(report["hours"], "hour", std::stoi(hour.first)), hour.second, hour.first);

    // Failures most frequent first, each message once.
    ASSERT_EQ(report["failures"].size(), failures.size());
    for (size_t i = 0; i < failures.size(); ++i) {
        const json& failure = report["failures"][i];
        EXPECT_EQ(failure["boards"], failures[Text(failure, "message")]) << failure;
        if (i > 0) {
            EXPECT_GE(report["failures"][i - 1]["boards"], failure["boards"]);
        }
    }
    std::sort(seconds.begin(), seconds.end());
    EXPECT_EQ(report["seconds"]["downloads"], seconds.size());
    const size_t n = seconds.size();
    EXPECT_DOUBLE_EQ(report["seconds"]["median"].get<double>(),
                     n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2);
    EXPECT_DOUBLE_EQ(report["seconds"]["p95"].get<double>(), seconds[size_t(std::ceil(0.95 * double(n))) - 1]);

    // (How late the real hwinfo's answers came depends on the adapter timer's phase.)
    EXPECT_EQ(late["/dev/ttyUSB7"], 1) << "the late query";
    for (const auto& port : late) EXPECT_EQ(Named(report["late_answers"], "port", port.first)["late"], port.second);
    ASSERT_EQ(report["other_operations"].size(), others.size());
    EXPECT_EQ(Named(report["other_operations"], "operation", "hwinfo")["ok"], 1);

    // The same figures for people: the late port is named, the broken line too.
    const ProcessResult text = RunTavboot({"report", log});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\n/dev/ttyUSB7  "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Broken lines, not read: 1\n  " + log + ":" + std::to_string(broken_line)),
              std::string::npos)
        << text.out;
}

// The time range holds whole days, hours, ... as given; logs that cannot be read and wrong times.
TEST_F(ReportTest, TimeRangeAndExitStatuses) {
    std::string later = kOlderRecord;
    later.replace(later.find("T07:15"), 6, "T08:15");
    const std::string older =
        WriteTempFile("report-older.log", std::string(kOlderRecord) + "\n" + kNewerRecord + "\n" + later + "\n");
    const auto boards = [&older](const std::vector<std::string>& range) {
        std::vector<std::string> args = {"report", "--json", older};
        args.insert(args.begin() + 1, range.begin(), range.end());
        const ProcessResult result = RunTavboot(args);
        EXPECT_EQ(result.status, 0) << result.err;
        return json::parse(result.out)["boards"]["boards"].get<int>();
    };
    EXPECT_EQ(boards({}), 3);
    EXPECT_EQ(boards({"--until", "2026-12-06T07"}), 2) << "the whole hour given";
    EXPECT_EQ(boards({"--until", "2026-12-06 07:59:59.998Z"}), 1);
    EXPECT_EQ(boards({"--since", "2026-12-06T07:59"}), 2);
    EXPECT_EQ(boards({"--since", "2026-12-06", "--until", "2026-12-06"}), 3) << "the whole day";
    EXPECT_EQ(boards({"--since", "2026-12-07"}), 0);

    EXPECT_EQ(RunTavboot({"report", "--since", "yesterday", older}).status, 2);
    EXPECT_EQ(RunTavboot({"report", "--until", "2026-12-06T24", older}).status, 2);
    EXPECT_EQ(RunTavboot({"report"}).status, 2);
    const ProcessResult missing = RunTavboot({"report", TempDir() + "/no-such.log"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot read the log " + TempDir() + "/no-such.log: "), std::string::npos);
    EXPECT_EQ(RunTavboot({"report", TempDir()}).status, 1) << "a folder is no log";
    EXPECT_EQ(RunTavboot({"report", TempDir() + "/no-such.log", older}).status, 0) << "one log was read";
}
