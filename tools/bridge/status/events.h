// The events worth one log line, found by comparing status snapshots: a
// source appears or is lost, a multicast join fails, a port's
// synchronisation starts, stops or ends. Nothing per packet.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

class EventWatch {
  public:
    // The lines for what changed since the previous snapshot.
    std::vector<std::string> Changes(const Snapshot& snapshot);

  private:
    std::map<std::string, std::string> sources_;  // live sources by port and CID or address
    std::set<std::string> failures_;              // failed joins: interface and universe
    std::map<int, std::string> syncs_;            // how each port is synchronised
};

}  // namespace lxd::bridge
