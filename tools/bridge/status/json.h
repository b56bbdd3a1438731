// The status snapshot as JSON (nlohmann-json): /status.json on the status
// page and the summary of --json are this one writer.
#pragma once

#include <string>

#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

// One line of JSON, ending in a newline; each port's 512 levels with `levels`.
std::string StatusJson(const Snapshot& snapshot, bool levels = true);

}  // namespace lxd::bridge
