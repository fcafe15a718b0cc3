// What a fixture's software reads: the schema of every JSON output, the event stream, the station and
// operator of each record, and the wrong board refused before its flash is touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "tests/cli_fixture.h"
#include "tests/process_support.h"
#include "tests/test_support.h"

using nlohmann::json;

namespace {

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    for (const std::string& line : SplitLines(text)) {
        lines.push_back(json::parse(line, nullptr, false));
        EXPECT_TRUE(lines.back().is_object()) << line;
    }
    return lines;
}

std::vector<json> LogRecords(const std::string& log) {
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return JsonLines(text);
}

std::string FreshLog(const char* name) {
    const std::string log = TempDir() + "/" + name + ".log";
    std::remove(log.c_str());
    return log;
}

bool Untouched(SimDevice* device) {
    std::lock_guard<std::mutex> hold(device->lock);
    return !device->unlocked && !device->erased && device->messages_received == 0;
}

}  // namespace

TEST_F(CliTest, EveryJsonDocumentRecordAndEventNamesItsSchemaStationAndOperator) {
    const std::string port = StartDevice();
    const std::string log = FreshLog("schema");
    const ChildSetup user = [] { setenv("USER", "night-shift", 1); };
    ProcessResult result = RunTavboot({"download", "--json", "--log", log, "--port", port, kExamples + "sample.hex"},
                                      120, user);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(json::parse(result.out)["schema"], 1);
    result = RunTavboot({"download", "--log", log, "--station", "line 3", "--operator", "anna", "--port", port,
                         "--port", TempDir() + "/no-such-port", kExamples + "sample.hex"});
    std::vector<json> records = LogRecords(log);
    ASSERT_EQ(records.size(), 3u) << result.err;
    char host[256] = "";
    gethostname(host, sizeof host);
    EXPECT_EQ(records[0]["station"], host);
    EXPECT_EQ(records[0]["operator"], "night-shift");
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["schema"], 1) << i;
        if (i == 0) continue;
        EXPECT_EQ(records[i]["station"], "line 3") << "told to each port's process";
        EXPECT_EQ(records[i]["operator"], "anna");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"inspect", "--json", kExamples + "sample.tvk"},
          {"inspect", "--json", TempDir() + "/no-such.hex"},
          {"hwinfo", "--json", "--port", TempDir() + "/no-such-port"}}) {
        result = RunTavboot(args);
        EXPECT_EQ(json::parse(result.out)["schema"], 1) << args[0] << result.out;
    }
}

// Two ports, the second leaving a data message unacknowledged: each port's events in their order.
TEST_F(CliTest, EventsTellEachPortsPhasesPagesAndOneResult) {
    const std::string good = StartDevice();
    config.fault = SimFaultBadDataAck;
    config.fault_arg = 100;
    const std::string bad = StartDevice();
    const ProcessResult result =
        RunTavboot({"download", "--events", "--station", "s1", "--port", good, "--port", bad, kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 1) << result.err;
    std::map<std::string, std::vector<json>> by_port;
    for (const json& event : JsonLines(result.out)) {
        EXPECT_EQ(event["schema"], 1);
        EXPECT_EQ(event["time"].get<std::string>().size(), 24u);
        by_port[event["port"]].push_back(event);
    }
    ASSERT_EQ(by_port.size(), 2u) << result.out;
    for (const std::string& port : {good, bad}) {
        const std::vector<json>& events = by_port[port];
        ASSERT_GE(events.size(), 3u) << port;
        EXPECT_EQ(events.front()["event"], "phase");
        EXPECT_EQ(events.front()["text"], "Bootloader CRC is correct");
        int pages = 0, results = 0;
        for (const json& event : events) {
            if (event["event"] == "page") {
                EXPECT_EQ(event["done"], ++pages) << port;
                EXPECT_EQ(event["total"], 13);
            }
            results += event["event"] == "result";
        }
        EXPECT_EQ(results, 1) << port;
        EXPECT_EQ(events.back()["event"], "result") << "the result comes last";
        EXPECT_EQ(pages, port == good ? 13 : 3) << port;
        EXPECT_EQ(events.back()["station"], "s1") << "the record's keys";
    }
    EXPECT_EQ(by_port[good].back()["result"], "ok");
    EXPECT_EQ(by_port[good].back()["image_sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(by_port[bad].back()["result"], "failed");
    EXPECT_EQ(by_port[bad].back()["outcome"], "message_failed");
    EXPECT_EQ(by_port[bad].back()["message"], "BOOT info: Boot communication error");
    EXPECT_NE(result.err.find("[" + bad + "] status: BOOT message failed"), std::string::npos) << "human text stays";
}

// One port sends its own events: a retry after a failed sync, then its result.
TEST_F(CliTest, EventsOfOnePortIncludeItsRetry) {
    config.fault = SimFaultSyncCrcFail;
    config.sync_faults = 1;
    const std::string port = StartDevice();
    const ProcessResult result =
        RunTavboot({"download", "--events", "--retries", "2", "--port", port, kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<json> events = JsonLines(result.out);
    ASSERT_FALSE(events.empty());
    std::vector<std::string> names;
    int pages = 0;
    for (const json& event : events) {
        EXPECT_EQ(event["port"], port);
        pages += event["event"] == "page";
        if (names.empty() || names.back() != event["event"]) names.push_back(event["event"]);
    }
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names[0], "phase");
    EXPECT_EQ(names[1], "retry") << result.out;
    EXPECT_EQ(names.back(), "result");
    EXPECT_EQ(pages, 13);
    for (const json& event : events)
        if (event["event"] == "retry") {
            EXPECT_EQ(event["attempt"], 2);
            EXPECT_EQ(event["of"], 3);
            EXPECT_EQ(event["outcome"], "boot_crc_fail");
        }
    EXPECT_EQ(events.back()["attempts"], 2);
    EXPECT_EQ(RunTavboot({"download", "--events", "--json", "--port", port, kExamples + "sample.hex"}).status, 2);
}

// Ctrl-C in the middle still closes the stream with the port's result.
TEST_F(CliTest, AnInterruptedDownloadsEventsEndWithItsResult) {
    config.paced = 1;
    const std::string port = StartDevice();
    BackgroundProcess process = StartTavboot({"download", "--events", "--port", port, kExamples + "sample.hex"});
    ASSERT_TRUE(WaitForStdout(&process, "\"done\":1,", 60)) << process.out;
    kill(process.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&process, 30), 130);
    const std::vector<json> events = JsonLines(process.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"], "result") << process.out;
    EXPECT_EQ(events.back()["result"], "interrupted");
    EXPECT_EQ(events.back()["outcome"], "interrupted");
    EXPECT_EQ(events.back()["schema"], 1);
    EXPECT_GT(events.back()["seconds"].get<double>(), 0);
}

// The wrong board: refused where a memory image for other hardware is, nothing erased, never retried.
TEST_F(CliTest, AWrongBoardIsRefusedBeforeItsFlashIsTouched) {
    const std::string port = StartDevice();
    const std::string log = FreshLog("expect");
    const std::vector<uint8_t> flash = SimFlash(devices[0].get());
    ProcessResult result = RunTavboot({"download", "--expect-platform", "TAV-OTHER", "--retries", "2", "--log", log,
                                       "--port", port, kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("BOOT info: HW is uncompatible with selected SW image File\n"
                              "tavboot: " + port + ": expected HW platform \"TAV-OTHER\", the bootloader sent "
                              "\"TAV-SIM-PLATFORM\"\nstatus: HW is uncompatible with SW image File\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("retry:"), std::string::npos);
    EXPECT_TRUE(Untouched(devices[0].get()));
    EXPECT_EQ(SimFlash(devices[0].get()), flash);
    // Through each port's process, and with a memory image whose header fits.
    const std::string second = StartDevice();
    result = RunTavboot({"download", "--expect-platform", "TAV-SIM-PLATFORM", "--expect-hw-version", "HW 2.0",
                         "--retries", "2", "--log", log, "--port", port, "--port", second, kExamples + "sample.tvk"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Untouched(devices[1].get()));
    const std::vector<json> records = LogRecords(log);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["outcome"], "platform_not_expected");
    for (const json& record : records) {
        EXPECT_EQ(record["result"], "failed");
        EXPECT_EQ(record["attempts"], 1);
    }
    EXPECT_EQ(records[2]["outcome"], "hw_version_not_expected");
    result = RunTavboot({"download", "--expect-platform", "TAV-SIM-PLATFORM", "--expect-hw-version", "HW 1.0",
                         "--port", port, kExamples + "sample.tvk"});
    EXPECT_EQ(result.status, 0) << result.err;
}

// A station's port: each board waited for, found, downloaded with its result, and removed.
TEST_F(CliTest, StationEventsFollowEachBoard) {
    const std::string port = TempDir() + "/events-station-port";
    const std::string log = FreshLog("station-events");
    unlink(port.c_str());
    ASSERT_EQ(symlink(StartDevice().c_str(), port.c_str()), 0);
    const std::string second = StartDevice();
    BackgroundProcess station = StartTavboot({"station", "--events", "--port", port, "--boards", "2", "--verify-app",
                                              "0", "--removal-time", "0.2", "--station", "s2", "--expect-platform",
                                              "TAV-SIM-PLATFORM", "--log", log, kExamples + "sample.hex"});
    ASSERT_TRUE(WaitForStdout(&station, "\"event\":\"result\"", 60)) << station.err;
    unlink(port.c_str());
    ASSERT_TRUE(WaitForStdout(&station, "\"event\":\"removed\"", 30)) << station.out;
    ASSERT_EQ(symlink(second.c_str(), port.c_str()), 0);
    EXPECT_EQ(FinishProcess(&station, 60), 0) << station.err;
    unlink(port.c_str());
    std::vector<std::string> names;
    std::vector<json> results;
    for (const json& event : JsonLines(station.out)) {
        EXPECT_EQ(event["port"], port);
        if (event["event"] == "result") results.push_back(event);
        if (event["event"] == "board") {
            EXPECT_EQ(event["device"], port) << "a path names itself; a selector the device it found";
        }
        if (event["event"] != "phase" && event["event"] != "page") names.push_back(event["event"]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"waiting", "board", "result", "removed", "waiting", "board", "result"}))
        << station.out;
    ASSERT_EQ(results.size(), 2u);
    for (const json& result : results) {
        EXPECT_EQ(result["result"], "ok");
        EXPECT_EQ(result["operation"], "station");
        EXPECT_EQ(result["station"], "s2");
        EXPECT_EQ(result["pages"], 13);
    }
    EXPECT_EQ(LogRecords(log).size(), 2u);
}
