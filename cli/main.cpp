// tavboot: the command-line front end of the loader.
#include <iostream>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "console/console.h"
#include "core/loader_state.h"
#include "ports/ports.h"
#include "production/production.h"
#include "production/worker.h"
#include "simulation/simulation.h"

namespace {

// The ports with their selectors resolved where they match now; the others as named.
std::vector<std::string> PortsAsNow(std::vector<std::string> ports) {
    std::string why;
    for (std::string& port : ports) {
        std::string resolved = port;
        if (ResolvePortSelector(&resolved, &why)) port = resolved;
    }
    return ports;
}

int Dispatch(const Arguments& args) {
    switch (args.command) {
    case CommandInspect: return RunInspect(args.file, args.json);
    case CommandHwInfo: return RunHwInfo(args.device, args.json);
    case CommandAppInfo: return RunAppInfo(args.device, args.json);
    case CommandPorts: return RunPorts(args.json);
    case CommandStation:
        if (RefuseBadPorts(PortsAsNow(args.ports), false)) return kExitUsage;
        return RunStation(args.device, args.ports, args.file, args.boards);
    case CommandSimulate: return RunSimulate(args.simulate);
    case CommandDemo: return RunDemo();
    case CommandReport: return RunReport(args.logs, args.since, args.until, args.json);
    case CommandDownload: break;
    }
    return RunDownloadCommand(args.device, args.ports, args.ports_from, args.file, args.json);
}

}  // namespace

int main(int argc, char** argv) {
    GuardProcess();
    UseUtf8Console();
    if (ExplainedToLoneConsole(argc)) return kExitUsage;
    ResetLoaderState();
    InitConsole();
    std::string why;
    if (!ArgumentsArrivedWhole(&why)) return FinishOutput(Refuse(why, false));
    if (IsWorkerCall(argc, argv)) return FinishOutput(RunWorker(argc, argv));
    Arguments args;
    int exit_status = kExitOk;
    if (!ParseArguments(argc, argv, &args, &exit_status, std::cout, std::cerr)) return exit_status;
    if (!ResolvePortSelector(&args.device.port, &why)) return FinishOutput(FailBeforeRun(why, args.json));
    // The station resolves its selectors again for every board (a board may bring its own adapter).
    for (std::string& port : args.ports)
        if (args.command != CommandStation && !ResolvePortSelector(&port, &why))
            return FinishOutput(FailBeforeRun(why, args.json));
    // A record that cannot be written stops the run before anything reaches a device.
    if (!args.log.empty() && !OpenRunLog(args.log, &why)) return FinishOutput(FailBeforeRun(why, args.json));
    SetRecordOrigin(args.station, args.operator_name);
    if (args.events) StartEventStream();
    return FinishOutput(Dispatch(args));
}
