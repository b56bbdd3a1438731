// The monitor's live view on a terminal (ncurses).
#pragma once

#include <atomic>

#include "tools/monitor/options.h"
#include "tools/monitor/session.h"

namespace lxd::monitor {

// Services the driver at options.rate and shows the levels until the user
// quits, `stop` is set, or options.duration (when set) has passed.
void RunLiveView(DriverSession& session, const Options& options, const std::atomic<bool>& stop);

}  // namespace lxd::monitor
