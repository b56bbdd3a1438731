// Sends the merged levels of changed ports to the driver as block packets,
// and every port that has had a source again before a second has passed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/block_writer.h"
#include "tools/bridge/core/io.h"
#include "tools/bridge/core/mapping.h"

namespace lxd::bridge {

// A port is sent again when it was last sent this long
// ago; with a tick every kTickInterval no port waits a second, even when the
// ticks run a little late.
inline constexpr Millis kTickInterval{250};
inline constexpr Millis kRefreshAfter{700};

class Forwarder {
  public:
    explicit Forwarder(DatagramSink& sink) : sink_(sink) {}
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // The 512 levels that port `port` sends; set once before any Flush.
    void Attach(int port, const std::uint8_t* levels) { levels_[port] = levels; }
    // The port is no longer mapped: nothing more is sent for it.
    void Detach(int port) {
        levels_[port] = nullptr;
        pending_[port] = false;
        sent_[port] = false;
    }
    // When any port was last sent (only meaningful after the first datagram).
    Millis LastSent() const { return last_; }
    void MarkChanged(int port) { pending_[port] = true; }
    // Marks each port with `due[port]` set that was last sent kRefreshAfter
    // or longer ago (or never).
    void MarkStale(const bool* due, Millis now);
    // Sends every marked port, in port order, as many to a datagram as fit,
    // all of them as one burst.
    void Flush(Millis now);
    // Whether a port waits for the next Flush.
    bool Due() const;

    std::uint64_t Datagrams(int port) const { return datagrams_[port]; }
    std::uint64_t Datagrams() const { return total_; }
    std::uint64_t SendFailures() const { return failures_; }

  private:
    DatagramSink& sink_;
    // One burst: at most one datagram per port.
    BlockWriter writers_[kNumPorts];
    int firstPort_[kNumPorts + 1] = {};  // datagram d holds ports[firstPort_[d]..firstPort_[d+1])
    const std::uint8_t* levels_[kNumPorts] = {};
    bool pending_[kNumPorts] = {};
    bool sent_[kNumPorts] = {};
    Millis lastSent_[kNumPorts] = {};
    std::uint64_t datagrams_[kNumPorts] = {};
    std::uint64_t total_ = 0;
    Millis last_{0};
    std::uint64_t failures_ = 0;
};

}  // namespace lxd::bridge
