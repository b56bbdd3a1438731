// Taking the status snapshot from the live bridge, on the event loop between
// packets: the one place in status/ that reads the forwarding path.
#pragma once

#include "tools/bridge/core/bridge.h"
#include "tools/bridge/net/network_status.h"
#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

// The levels that port `port` sends now, into `out` (512); false when no
// route feeds it. For the page's WebSockets, many times a second: no
// snapshot, nothing allocated.
bool ReadPortLevels(const Bridge& bridge, int port, std::uint8_t* out);

// Takes snapshots; packets per second count since the previous one.
class SnapshotTaker {
  public:
    Snapshot Take(const Bridge& bridge, const NetworkStatus& network, const RunInfo& run,
                  Millis now);

  private:
    struct Previous {
        // Packets per second of the source in `slot`, remembering its count.
        double SourceRate(int slot, std::uint32_t generation, std::uint64_t packets,
                          double seconds);
        std::uint64_t arrived = 0;
        std::uint64_t sources[kSacnMaxSources] = {};
        std::uint32_t generation[kSacnMaxSources] = {};
    };
    // What an input sends, with its packets per second since the last snapshot.
    struct InputStatus {
        double packetsPerSecond = 0;
        std::vector<SourceStatus> sources;
    };
    InputStatus TakeInput(const Bridge& bridge, int input, Millis now, double seconds);
    Previous previous_[kMaxInputs];
    Millis last_{0};
    bool started_ = false;
};

}  // namespace lxd::bridge
