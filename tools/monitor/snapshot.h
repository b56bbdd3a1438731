// The monitor's end-of-run report: the ports that changed and their levels,
// as plain text or as JSON.
#pragma once

#include <cstdio>

#include "tools/monitor/session.h"

namespace lxd::monitor {

struct SnapshotInfo {
    double seconds = 0;  // how long the monitor listened
    double rate = 0;     // ServiceDevices calls per second asked for
    bool allPorts = false;
};

void WriteTextSnapshot(std::FILE* out, const DriverSession& session, const SnapshotInfo& info);
void WriteJsonSnapshot(std::FILE* out, const DriverSession& session, const SnapshotInfo& info);

}  // namespace lxd::monitor
