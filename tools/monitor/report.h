// The monitor's end-of-run report: the ports that changed and their levels,
// as plain text or as JSON.
#pragma once

#include <cstdio>

#include "tools/monitor/session.h"

namespace lxd::monitor {

struct ReportInfo {
    double seconds = 0;  // how long the monitor listened
    double rate = 0;     // ServiceDevices calls per second asked for
    bool allPorts = false;
};

void WriteTextReport(std::FILE* out, const DriverSession& session, const ReportInfo& info);
void WriteJsonReport(std::FILE* out, const DriverSession& session, const ReportInfo& info);

}  // namespace lxd::monitor
