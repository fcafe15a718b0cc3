// tavboot's command line: argv parsed into one record, without running anything.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "console/console.h"
#include "production/production.h"
#include "simulation/simulation.h"

enum Command {
    CommandDownload,
    CommandHwInfo,
    CommandAppInfo,
    CommandInspect,
    CommandSimulate,
    CommandDemo,
    CommandPorts,
    CommandStation,
    CommandReport,
};

struct Arguments {
    Command command = CommandDownload;
    DeviceOptions device;
    std::vector<std::string> ports;
    std::string ports_from;
    std::string file;
    bool json = false;
    bool events = false;  // --events: JSON Lines of what each port does on stdout
    std::string log;  // --log: one JSON line per port operation appended here
    int boards = 0;   // station: end after this many successful downloads, 0: never
    std::string station;        // --station: the records' station, empty: the host's name
    std::string operator_name;  // --operator: the records' operator, empty: the environment's user
    SimulateOptions simulate;
    std::vector<std::string> logs;  // report: the run logs read
    std::string since, until;       // report: the time range, as given
};

// Parses argv into args. Returns 1 when args.command is to run; 0 when the process
// ends here with *exit_status (help or version printed to out, 0; a usage error
// printed to err, kExitUsage).
int ParseArguments(int argc, const char* const* argv, Arguments* args, int* exit_status, std::ostream& out,
                   std::ostream& err);
