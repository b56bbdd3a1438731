// How the bridge's sockets are set up: which cards, where the driver is, and
// the ports received on. Plain values, read by the command line and the
// configuration file without the sockets' library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/layout.h"
#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/sacn.h"

namespace lxd::bridge {

struct NetworkSettings {
    // Interface names or IPv4 addresses to use; empty: every interface that is
    // up and can receive multicast, and loopback.
    std::vector<std::string> interfaces;
    std::string toHost = "127.0.0.1";
    std::uint16_t toPort = kIntakePort;
    std::uint16_t sacnPort = kSacnPort;
    std::uint16_t artnetPort = kArtnetPort;
};

}  // namespace lxd::bridge
