// tavboot hwinfo and appinfo: the bootloader's identity and the application's version on one port.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/json_output.h"
#include "production/production.h"

namespace {

void PrintFields(const char* const* labels, const char* const* keys, const InfoField* fields, int count,
                 bool json) {
    // A device's control bytes must not reach the user's terminal as commands.
    const bool escape = StdoutIsTerminal();
    if (!json) {
        for (int i = 0; i < count; ++i) {
            const std::string value = FieldValue(fields[i]);
            std::printf("%s: %s\n", labels[i], (escape ? Printable(value) : DeviceTextUtf8(value)).c_str());
        }
        return;
    }
    nlohmann::json out = {{"ok", true}, {"answer_delay_ms", AnswerDelayOrNull()}};
    for (int i = 0; i < count; ++i) out[keys[i]] = DeviceTextUtf8(FieldValue(fields[i]));
    PrintJsonValue(out);
}

int QueryStatus() {
    return g_loader.outcome == kOutcomeOk ? kExitOk : kExitFailed;
}

// A record that cannot be written fails the query, with json as its object.
int LogQuery(const char* operation, const std::string& port, double started, bool json) {
    if (WriteLogRecord({operation, port, "", QueryStatus(), 1, MonotonicSeconds() - started})) return 1;
    if (json) PrintJsonValue({{"ok", false}, {"message", RunLogError()}, {"outcome", OutcomeKey(g_loader.outcome)}});
    return 0;
}

// Ctrl-C from here on leaves an "interrupted" record in the log, and with json its object.
// Returns the start time.
double BeginQuery(const char* operation, const DeviceOptions& options, bool json) {
    if (json)
        SetInterruptReport(nlohmann::json({{"ok", false}, {"message", InterruptNotice()},
                                           {"outcome", OutcomeKey(kOutcomeInterrupted)}, {"result", "interrupted"},
                                           {"schema", kSchema}})
                               .dump(2) + "\n");
    InstallInterruptHandler();
    const double started = MonotonicSeconds();
    PrepareInterruptRecord({operation, options.port, "", kExitInterrupted, 1, 0}, started);
    StartLineTrace(options.trace);
    return started;
}

}  // namespace

int RunHwInfo(const DeviceOptions& options, bool json) {
    if (RefusePortName(options.port, json)) return kExitUsage;
    SelectPort(options.port);
    ApplyDeviceOverrides(options);
    const double started = BeginQuery("hwinfo", options, json);
    QueryHwInfo();
    if (!LogQuery("hwinfo", options.port, started, json)) return kExitFailed;
    if (QueryStatus() != kExitOk) return PrintJsonFailure(json, kExitFailed);
    static const char* const kLabels[] = {"HW platform", "HW version", "BOOT SW version"};
    static const char* const kKeys[] = {"hw_platform", "hw_version", "boot_sw_version"};
    static const InfoField kFields[] = {HwPlatformField, HwVersionField, BootSwVersionField};
    PrintFields(kLabels, kKeys, kFields, 3, json);
    return kExitOk;
}

int RunAppInfo(const DeviceOptions& options, bool json) {
    if (RefusePortName(options.port, json)) return kExitUsage;
    SelectPort(options.port);
    const double started = BeginQuery("appinfo", options, json);
    QueryApplicationFw();
    if (!LogQuery("appinfo", options.port, started, json)) return kExitFailed;
    if (QueryStatus() != kExitOk) return PrintJsonFailure(json, kExitFailed);
    static const char* const kLabels[] = {"Application info", "FW version"};
    static const char* const kKeys[] = {"application", "fw_version"};
    static const InfoField kFields[] = {ApplicationInfoField, FwVersionField};
    PrintFields(kLabels, kKeys, kFields, 2, json);
    return kExitOk;
}
