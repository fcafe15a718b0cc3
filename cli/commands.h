// The commands of the tavboot command line, each returning the process exit status.
#pragma once
#include <string>
#include <vector>

#include "production/production.h"

int RunInspect(const std::string& file, bool json);
// download with every port named (and those of the ports list); several ports run in parallel processes.
int RunDownloadCommand(DeviceOptions device, const std::vector<std::string>& ports, const std::string& ports_from,
                       const std::string& file, bool json);
// Refuses (usage error, said) a name too long for a port, or a device named twice, also through a
// link, an alias or COMn. Returns 1 when refused.
int RefuseBadPorts(const std::vector<std::string>& ports, bool json);
int RunHwInfo(const DeviceOptions& options, bool json);
int RunAppInfo(const DeviceOptions& options, bool json);
int RunPorts(bool json);
// report: the figures of the run logs; 1 when none of them could be read.
int RunReport(const std::vector<std::string>& logs, const std::string& since, const std::string& until, bool json);
