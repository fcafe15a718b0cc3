// Workers of the production line: their event lines as a worker writes them against a simulated
// device, and how the supervisor judges a worker by its result rather than by any text.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "production/worker.h"
#include "tests/cli_fixture.h"
#include "tests/process_support.h"

namespace {

std::vector<WorkerEvent> EventsOf(const std::string& out) {
    std::vector<WorkerEvent> events;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        WorkerEvent event;
        EXPECT_TRUE(ParseWorkerEvent(line, &event)) << line;
        events.push_back(event);
    }
    return events;
}

int Count(const std::vector<WorkerEvent>& events, const std::string& name) {
    return int(std::count_if(events.begin(), events.end(), [&](const WorkerEvent& e) { return e.name == name; }));
}

TEST(WorkerProtocol, DeviceTextsKeepTheLineAndOnlyAWellFormedOkResultIsSuccess) {
    const WorkerEvent sent{"result", {{"outcome", "ok"}, {"status", "0"}, {"hw_platform", "A\tB\nC\\D\r"}}};
    const std::string line = FormatWorkerEvent(sent);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    WorkerEvent got;
    ASSERT_TRUE(ParseWorkerEvent(line.substr(0, line.size() - 1), &got)) << line;
    EXPECT_EQ(got.fields, sent.fields);
    EXPECT_EQ(JudgeWorker(&got, kExitOk).status, kExitOk);

    // No result, or one that cannot be read, fails the port even when the process ended well.
    EXPECT_EQ(JudgeWorker(nullptr, kExitOk).status, kExitFailed);
    EXPECT_EQ(JudgeWorker(nullptr, kExitInterrupted).status, kExitInterrupted);
    EXPECT_EQ(JudgeWorker(&got, kExitFailed).status, kExitFailed);
    for (const char* text : {"result\toutcome=ok", "result\toutcome=fine\tstatus=0", "result\toutcome=ok\tstatus=0k",
                             "result\toutcome=page_failed\tstatus=0"}) {
        WorkerEvent result;
        ASSERT_TRUE(ParseWorkerEvent(text, &result)) << text;
        EXPECT_EQ(JudgeWorker(&result, kExitOk).status, kExitFailed) << text;
    }
    // Human lines are no events.
    for (const char* text : {"BOOT info: Boot successful finished", "result\tstatus", "result\tmessage=a\\q", ""})
        EXPECT_FALSE(ParseWorkerEvent(text, &got)) << text;
}

// A retried download that fails at its third page: every attempt, its pages and the typed result.
TEST_F(CliTest, AWorkerReportsAttemptsPagesAndItsTypedResult) {
    config.fault = SimFaultBadPageAck;
    config.fault_arg = 2;
    const std::string port = StartDevice();
    const ProcessResult result = RunTavboot(
        {"--worker", "download", "--port", port, "--retries", "1", "--file", kExamples + "sample.hex"});
    EXPECT_EQ(result.status, kExitFailed) << result.err;
    const std::vector<WorkerEvent> events = EventsOf(result.out);
    EXPECT_EQ(Count(events, "attempt"), 2);
    EXPECT_EQ(Count(events, "page"), 4);
    EXPECT_GE(Count(events, "phase"), 8);
    ASSERT_EQ(Count(events, "result"), 1);
    const WorkerEvent& last = events.back();
    ASSERT_EQ(last.name, "result");
    EXPECT_EQ(last.Field("outcome"), "page_failed");
    EXPECT_EQ(last.Field("status"), "1");
    EXPECT_EQ(last.Field("attempts"), "2");
    EXPECT_EQ(last.Field("message"), "BOOT info: Boot write to Flash error");
    EXPECT_EQ(last.Field("hw_platform"), "TAV-SIM-PLATFORM");
    EXPECT_EQ(last.Field("boot_sw_version"), "BOOT 2.1");
    const auto page = std::find_if(events.begin(), events.end(), [](const WorkerEvent& e) { return e.name == "page"; });
    EXPECT_EQ(page->Field("done"), "1");
    EXPECT_EQ(page->Field("total"), "13");
    // Human text stays on stderr, as without workers.
    EXPECT_NE(result.err.find("status: BOOT Page failed"), std::string::npos) << result.err;
}

}  // namespace
