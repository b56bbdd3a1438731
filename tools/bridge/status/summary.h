// The summary at the end of a run, as text, from the last snapshot.
#pragma once

#include <string>

#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

std::string SummaryText(const Snapshot& snapshot);

}  // namespace lxd::bridge
