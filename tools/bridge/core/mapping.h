// Which sACN universe or Art-Net port-address feeds which driver port.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/layout.h"
#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/sacn.h"

namespace lxd::bridge {

enum class Protocol : std::uint8_t { kNone, kSacn, kArtnet };

struct PortSource {
    Protocol protocol = Protocol::kNone;
    std::uint16_t universe = 0;  // sACN universe or Art-Net port-address
};

// The table of driver ports, filled from the command line.
class Mapping {
  public:
    // Adds `list` ("UNIVERSES[@PORT]", e.g. "1-4,9@0" or "0:0:0-3@4") for
    // `protocol`. On failure returns false with a one-line reason, which
    // starts with `origin` (default: the option and the list), and leaves
    // the table as it was.
    bool Add(Protocol protocol, const std::string& list, std::string& error,
             const std::string& origin = "");

    const PortSource& Port(int port) const { return ports_[port]; }
    bool Mapped(int port) const { return ports_[port].protocol != Protocol::kNone; }
    int Count(Protocol protocol) const;
    // The driver port fed by this universe, or -1.
    int PortOf(Protocol protocol, std::uint16_t universe) const;
    bool operator==(const Mapping& other) const;

  private:
    PortSource ports_[kNumPorts];
};

// "universe 7" or "port-address 0:0:7 (7)", for messages and the status view.
std::string DescribeSource(const PortSource& source);
// An Art-Net port-address as net:sub-net:universe.
std::string ArtnetAddressText(std::uint16_t address);

}  // namespace lxd::bridge
