// tavboot's command line: the subcommands, their options and their checks.
#include "cli/arguments.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>
#include <vector>

#include "report/report.h"

namespace {

const char kHelpFooter[] =
    "Ports: COM1, COM2, ... any number (on Linux /dev/ttyS0, /dev/ttyS1, ...) or any device path;\n"
    "TAVBOOT_PORT names the port when no --port does (station always needs --port).\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error, 130 interrupted.";

const char kPortVariable[] = "TAVBOOT_PORT";

void AddPortOption(CLI::App* command, Arguments& args) {
    command->add_option("-p,--port", args.device.port, "serial port: COM1, COM2, ... or a device path")
        ->envname(kPortVariable)
        ->default_str("COM1");
}

void AddBootValueOption(CLI::App* command, Arguments& args) {
    command->add_option("--boot-value", args.device.boot_value, "enter-boot value instead of the built-in one")
        ->check(HexDigits(4));
}

void AddLogOption(CLI::App* command, Arguments& args) {
    command->add_option("--log", args.log, "append one JSON line per port operation to this file");
}

void AddRetriesOption(CLI::App* command, Arguments& args) {
    command->add_option("--retries", args.device.retries, "try a download failing at the line again, up to N times")
        ->check(CLI::Range(0, 100));
}

void AddVerifyAppOption(CLI::App* command, Arguments& args) {
    command->add_option("--verify-app", args.device.verify_app,
                        "after the download wait up to SECONDS for the application to answer; 0: do not ask")
        ->check(CLI::Range(0.0, 3600.0));
}

// Records from several stations merge into one report: each names where and by whom.
void AddOriginOptions(CLI::App* command, Arguments& args) {
    command->add_option("--station", args.station, "the station the log records name (default: the host's name)");
    command->add_option("--operator", args.operator_name, "the operator the log records name (default: the user)");
}

// The wrong board refused before anything is erased.
void AddExpectOptions(CLI::App* command, Arguments& args) {
    command->add_option("--expect-platform", args.device.expect_platform,
                        "refuse a board whose bootloader names another HW platform");
    command->add_option("--expect-hw-version", args.device.expect_hw_version,
                        "refuse a board whose bootloader names another HW version");
}

CLI::Option* AddEventsFlag(CLI::App* command, Arguments& args) {
    return command->add_flag("--events", args.events,
                             "print what each port does as it happens, one JSON object a line");
}

void AddTraceFlag(CLI::App* command, Arguments& args) {
    command->add_flag("--trace", args.device.trace, "print every byte on the line to stderr");
}

void AddDownload(CLI::App& app, Arguments& args) {
    CLI::App* command = app.add_subcommand("download", "download an image file into the device");
    command->add_option("-p,--port", args.ports, "serial port: COM1, COM2, ... or a device path; repeat for several")
        ->allow_extra_args(false)
        ->default_str("COM1");
    command->add_option("--ports-from", args.ports_from, "file naming one port a line")->check(CLI::ExistingFile);
    AddBootValueOption(command, args);
    command->add_option("--unlock-key", args.device.unlock_key, "unlock key instead of the built-in one")
        ->check(HexDigits(8));
    command->add_flag("--json", args.json, "print one JSON object with the result of every port")
        ->excludes(AddEventsFlag(command, args));
    AddLogOption(command, args);
    AddRetriesOption(command, args);
    AddVerifyAppOption(command, args);
    AddOriginOptions(command, args);
    AddExpectOptions(command, args);
    AddTraceFlag(command, args);
    command->add_option("FILE", args.file, "Intel HEX (*.hex) or memory image (*.tvk) file")->required();
    command->footer(kHelpFooter);
}

void AddQueries(CLI::App& app, Arguments& args) {
    CLI::App* hwinfo = app.add_subcommand("hwinfo", "read the bootloader's identity (the device stays in its bootloader)");
    AddPortOption(hwinfo, args);
    AddBootValueOption(hwinfo, args);
    hwinfo->add_flag("--json", args.json, "print one JSON object");
    AddLogOption(hwinfo, args);
    AddTraceFlag(hwinfo, args);
    hwinfo->footer(kHelpFooter);
    CLI::App* appinfo = app.add_subcommand("appinfo", "read the application's name and firmware version");
    AddPortOption(appinfo, args);
    appinfo->add_flag("--json", args.json, "print one JSON object");
    AddLogOption(appinfo, args);
    AddTraceFlag(appinfo, args);
    appinfo->footer(kHelpFooter);
}

void AddInspect(CLI::App& app, Arguments& args) {
    CLI::App* command = app.add_subcommand("inspect", "load an image file as a download would and describe it");
    command->add_option("FILE", args.file, "Intel HEX (*.hex) or memory image (*.tvk) file")->required();
    command->add_flag("--json", args.json, "print one JSON object");
}

void AddStation(CLI::App& app, Arguments& args) {
    CLI::App* command = app.add_subcommand("station", "download every board plugged into the ports, unattended");
    command->preparse_callback([&args](size_t) { args.device.verify_app = 10; });
    command->add_option("-p,--port", args.ports, "serial port: COM1, COM2, ... or a device path; repeat for several")
        ->allow_extra_args(false)
        ->required();
    AddBootValueOption(command, args);
    command->add_option("--unlock-key", args.device.unlock_key, "unlock key instead of the built-in one")
        ->check(HexDigits(8));
    AddLogOption(command, args);
    AddRetriesOption(command, args);
    command->add_option("--boards", args.boards, "end after N successful downloads in all")->check(CLI::Range(1, 1000000));
    AddVerifyAppOption(command, args);
    command->add_option("--removal-time", args.device.removal_time,
                        "a board whose application was not identified is gone after SECONDS of silence")
        ->check(CLI::Range(0.1, 3600.0));
    AddOriginOptions(command, args);
    AddExpectOptions(command, args);
    AddEventsFlag(command, args);
    command->add_option("FILE", args.file, "Intel HEX (*.hex) or memory image (*.tvk) file")->required();
    command->footer(kHelpFooter);
}

// A time as the log writes it, or its first part: a date, an hour, a minute, ...
CLI::Validator ReportTime() {
    return CLI::Validator(
        [](std::string& text) {
            std::string canonical;
            return ReadReportTime(text, &canonical) ? std::string() : "not a time like 2026-12-07 or 2026-12-07T14:30: " + text;
        },
        "");
}

void AddReport(CLI::App& app, Arguments& args) {
    CLI::App* command = app.add_subcommand("report", "yields, failures and times of the boards in run logs (--log)");
    command->add_flag("--json", args.json, "print one JSON object");
    command->add_option("--since", args.since, "only records from this time on (UTC): 2026-12-07 or 2026-12-07T14:30")
        ->type_name("TIME")
        ->check(ReportTime());
    command->add_option("--until", args.until, "only records up to this time (UTC), the whole day, hour, ... given")
        ->type_name("TIME")
        ->check(ReportTime());
    command->add_option("LOG", args.logs, "run log written by --log; several are read as one")->required();
    command->footer("Exit status: 0 the logs were read (broken lines are counted and named), 1 no log could be read,\n"
                    "2 usage error.");
}

const char* const kCommandNames[] = {"download", "hwinfo", "appinfo", "inspect", "simulate", "demo", "ports",
                                     "station", "report"};

// Single-character edits (insert, delete, change, swap of neighbours) from a to b.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// A first word that is no command but close to one: the usage error names the command meant.
int SuggestCommand(int argc, const char* const* argv, std::ostream& err) {
    if (argc < 2 || argv[1][0] == '-') return 0;
    const std::string word = argv[1];
    for (const char* name : kCommandNames)
        if (word == name) return 0;
    for (const char* name : kCommandNames) {
        if (EditDistance(word, name) > 2) continue;
        err << "tavboot: unknown command \"" << word << "\"; did you mean \"" << name << "\"?\n"
            << "Run with --help for more information.\n";
        return 1;
    }
    return 0;
}

Command ChosenCommand(const CLI::App& app) {
    static const struct {
        const char* name;
        Command command;
    } kCommands[] = {{"hwinfo", CommandHwInfo},     {"appinfo", CommandAppInfo}, {"inspect", CommandInspect},
                     {"simulate", CommandSimulate}, {"demo", CommandDemo},       {"ports", CommandPorts},
                     {"station", CommandStation},   {"report", CommandReport}};
    for (const auto& entry : kCommands)
        if (app.got_subcommand(entry.name)) return entry.command;
    return CommandDownload;
}

}  // namespace

int ParseArguments(int argc, const char* const* argv, Arguments* args, int* exit_status, std::ostream& out,
                   std::ostream& err) {
    CLI::App app{"tavboot: firmware download through the device's serial bootloader", "tavboot"};
    app.set_version_flag("--version", std::string("tavboot ") + kTavbootVersion);
    app.require_subcommand(1, 1);
    app.footer(kHelpFooter);
    AddDownload(app, *args);
    AddQueries(app, *args);
    AddInspect(app, *args);
    if (SuggestCommand(argc, argv, err)) {
        *exit_status = kExitUsage;
        return 0;
    }
    AddSimulate(app, args->simulate);
    app.add_subcommand("demo", "download the built-in sample into a simulated device and check its flash");
    AddStation(app, *args);
    AddReport(app, *args);
    app.add_subcommand("ports", "list the serial ports of this machine and what identifies them")
        ->add_flag("--json", args->json, "print one JSON array");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        *exit_status = app.exit(error, out, err) == 0 ? kExitOk : kExitUsage;
        return 0;
    }
    args->command = ChosenCommand(app);
    return 1;
}
