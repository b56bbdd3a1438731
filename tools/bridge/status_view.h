// The live status on a terminal: one line per mapped universe.
#pragma once

#include <cstdint>
#include <string>

#include "tools/bridge/bridge.h"
#include "tools/bridge/report.h"

namespace lxd::bridge {

class StatusView {
  public:
    // The view's text at `now`; packets per second count since the last call.
    std::string Render(const Bridge& bridge, const RunInfo& run, Millis now);

  private:
    std::uint64_t packets_[kDriverPorts] = {};
    Millis last_{0};
    bool started_ = false;
};

}  // namespace lxd::bridge
