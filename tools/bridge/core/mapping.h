// Which sACN universes and Art-Net port-addresses feed which driver ports:
// routes of channel ranges, and how each port merges what it is fed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/layout.h"
#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/sacn.h"

namespace lxd::bridge {

enum class Protocol : std::uint8_t { kNone, kSacn, kArtnet };

struct PortSource {
    Protocol protocol = Protocol::kNone;
    std::uint16_t universe = 0;  // sACN universe or Art-Net port-address
};

// Channels of one input (an sACN universe or an Art-Net port-address) onto a
// range of one driver port.
struct Route {
    PortSource from;
    std::uint16_t first = 1;     // the input's first channel taken, 1..512
    std::uint16_t count = 512;   // channels taken
    std::uint8_t port = 0;       // the driver port, 0..35
    std::uint16_t at = 1;        // where the first channel taken lands, 1..512
    std::int16_t priority = -1;  // 0..200 where given, else -1
    bool operator==(const Route& other) const;
};
inline constexpr int kPriorityNotGiven = -1;
inline constexpr int kMaxRoutesPerPort = 8;
// Art-Net has no priority: its inputs merge at this one unless a route says.
inline constexpr int kArtnetDefaultPriority = 100;

// How inputs of the same priority merge on a port, per channel: highest level
// (htp) or latest change (ltp).
enum class Merge : std::uint8_t { kHtp, kLtp };

struct PortRules {
    Merge merge = Merge::kHtp;
    std::int8_t hold = -1;  // when a channel's last input is lost: 1 hold, 0 zero, -1 the default
    bool operator==(const PortRules& other) const {
        return merge == other.merge && hold == other.hold;
    }
};

// "sacn N" (1-63999) or "artnet N" (0-32767) or "artnet NET:SUB:UNI".
bool ParseInput(const std::string& text, PortSource& input, std::string& error);
// "A-B" or "A": channels 1..512.
bool ParseChannels(const std::string& text, std::uint16_t& first, std::uint16_t& count,
                   std::string& error);

// The table of driver ports, filled from the command line and the
// configuration file.
class Mapping {
  public:
    // Adds `list` ("UNIVERSES[@PORT]", e.g. "1-4,9@0" or "0:0:0-3@4") for
    // `protocol`. On failure returns false with a one-line reason, which
    // starts with `origin` (default: the option and the list), and leaves
    // the table as it was.
    bool Add(Protocol protocol, const std::string& list, std::string& error,
             const std::string& origin = "");

    // Adds a route; false with a one-line reason when it cannot be (a range
    // past channel 512, a port or priority out of range).
    bool AddRoute(const Route& route, std::string& error);
    // Sets how `port` merges; false when it was set already.
    bool SetRules(int port, const PortRules& rules, std::string& error);

    // Every route: the lists' whole universes, then the routes added.
    std::vector<Route> Routes() const;
    const PortRules& Rules(int port) const { return rules_[port]; }

    // The whole universe a list put on `port` (kNone for none).
    const PortSource& Port(int port) const { return ports_[port]; }
    // Whether any route feeds `port`.
    bool Mapped(int port) const;
    // Every universe or port-address routed, once, in the order routes name them.
    std::vector<PortSource> Inputs() const;
    // How many of those are of `protocol`.
    int Count(Protocol protocol) const;
    bool operator==(const Mapping& other) const;

  private:
    PortSource ports_[kNumPorts];  // the lists': one whole universe per port
    std::vector<Route> routes_;
    PortRules rules_[kNumPorts];
    bool ruled_[kNumPorts] = {};
};

// "universe 7" or "port-address 0:0:7 (7)", for messages and the status view.
std::string DescribeSource(const PortSource& source);
// An Art-Net port-address as net:sub-net:universe.
std::string ArtnetAddressText(std::uint16_t address);

}  // namespace lxd::bridge
