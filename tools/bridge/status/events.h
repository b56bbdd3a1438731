// The events worth one log line, found by comparing status snapshots: a
// source appears or is lost, a multicast join fails, a port's
// synchronisation starts, stops or ends. Nothing per packet, and no flood:
// beyond a few source lines in a while the rest are counted and told in one
// line.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

// Source lines written one by one in each kEventWindow seconds; the others
// are summed up when it ends.
inline constexpr int kSourceLines = 10;
inline constexpr double kEventWindow = 10;

class EventWatch {
  public:
    // The lines for what changed since the previous snapshot.
    std::vector<std::string> Changes(const Snapshot& snapshot);

  private:
    void Source(std::vector<std::string>& lines, const std::string& line, int& untold);

    std::map<std::string, std::string> sources_;  // live sources by port and CID or address
    std::set<std::string> failures_;              // failed joins: interface and universe
    double windowStart_ = 0;                      // snapshot seconds
    int told_ = 0;                                // source lines in this window
    int appeared_ = 0;                            // and those not written
    int lost_ = 0;
    std::map<int, std::string> syncs_;  // how each port is synchronised
};

}  // namespace lxd::bridge
