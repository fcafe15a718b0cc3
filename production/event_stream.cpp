// The event stream: what the ports do, one JSON object a line on stdout, from the workers' event lines.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "console/console.h"
#include "production/production.h"
#include "production/worker.h"

namespace {

bool g_stream_on = false;

int Number(const WorkerEvent& event, const char* key) { return std::atoi(event.Field(key).c_str()); }

// The record's keys when the result brings its record and agrees with it; else what the result says.
nlohmann::json ResultFields(const WorkerEvent& event) {
    const int status = Number(event, "status");
    nlohmann::json record = nlohmann::json::parse(event.Field("record"), nullptr, false);
    if (record.is_object() && record.value("result", "") == ResultKey(status)) return record;
    const std::string outcome = event.Field("outcome");
    return {{"result", ResultKey(status)},
            {"message", status == kExitOk ? "" : event.Field("message")},
            {"outcome", outcome.empty() ? nlohmann::json() : nlohmann::json(outcome)},
            {"attempts", event.Field("attempts").empty() ? 1 : Number(event, "attempts")},
            {"seconds", std::atof(event.Field("seconds").c_str())}};
}

// The event's own keys; null for an event a fixture is not told.
nlohmann::json EventFields(const WorkerEvent& event) {
    if (event.name == "phase") return {{"text", event.Field("text")}};
    if (event.name == "page") return {{"done", Number(event, "done")}, {"total", Number(event, "total")}};
    if (event.name == "retry")
        return {{"attempt", Number(event, "attempt")}, {"of", Number(event, "of")}, {"after", event.Field("after")},
                {"outcome", event.Field("outcome")}};
    if (event.name == "board") return {{"device", NameUtf8(event.Field("device"))}};
    if (event.name == "waiting" || event.name == "removed") return nlohmann::json::object();
    if (event.name == "result") return ResultFields(event);
    return nullptr;
}

// The event's line, empty for an event a fixture is not told.
std::string EventLine(const std::string& port, const WorkerEvent& event) {
    nlohmann::json out = EventFields(event);
    if (out.is_null()) return "";
    if (!out.contains("time")) out["time"] = UtcTimeText();
    out["event"] = event.name;
    out["port"] = NameUtf8(port);
    out["schema"] = kSchema;
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

void StartEventStream() {
    g_stream_on = true;
    g_status_listener = ReportStatus;
}

void EmitEvent(const std::string& port, const WorkerEvent& event) {
    if (!g_stream_on) return;
    const std::string line = EventLine(port, event);
    // A closed pipe never stops a download; the exit status says that the output was lost.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void PrepareInterruptEvent(const std::string& port, const std::string& record) {
    if (!g_stream_on) return;
    SetInterruptReport(EventLine(port, {"result", {{"status", std::to_string(kExitInterrupted)}, {"record", record}}}));
}
