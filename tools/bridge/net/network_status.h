// What the sockets report: the interfaces received on, the groups joined
// there, and the receive buffers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lxd::bridge {

// One IPv4 interface the bridge receives on (or tried to).
struct InterfaceStatus {
    std::string name;     // "eth0", or the adapter's name on Windows
    std::string address;  // dotted IPv4
    std::string mac;      // "aa:bb:cc:dd:ee:ff", empty when unknown
    std::uint32_t index = 0;
    std::vector<std::uint16_t> joined;  // sACN universes whose group is joined there
    std::vector<std::uint16_t> failed;  // universes whose join failed there
    std::string error;                  // the last join error there, empty if none
};

// What the sockets report: which interfaces, and the receive buffer granted.
struct NetworkStatus {
    bool restricted = false;  // --interface given: others are ignored
    std::vector<InterfaceStatus> interfaces;
    std::vector<std::string> missing;    // --interface names not present (yet)
    int receiveBufferAsked = 0;          // bytes asked for on each receive socket
    int receiveBufferGranted = 0;        // the smallest granted, bytes
    std::uint64_t foreignDatagrams = 0;  // arrived on interfaces not chosen: ignored
};

}  // namespace lxd::bridge
