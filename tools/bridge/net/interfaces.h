// The machine's IPv4 interfaces as the bridge chooses among them: which are
// up and can receive multicast, and which the user named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lxd::bridge {

struct Interface {
    std::string name;
    std::uint32_t index = 0;    // the system's interface index
    std::uint32_t address = 0;  // IPv4, host order
    std::uint32_t netmask = 0;  // of the address's network, host order
    std::uint8_t mac[6] = {};
    bool loopback = false;
    bool multicast = false;  // says it can receive multicast (Linux's lo does not, yet can)
};

// Every IPv4 address of every interface that is up (one entry per address).
std::vector<Interface> ListInterfaces();

// The address a poll from `poller` that arrived on interface `via` (0: not
// told) is answered from: one of `via`'s whose network holds the poller, or,
// for a console on this machine, the one it polled from. Null when the poller
// is on none of those networks: the poll is not answered.
const Interface* ReplyCard(const std::vector<Interface>& cards, std::uint32_t via,
                           std::uint32_t poller);

// Whether `choice` (an interface name or a dotted IPv4 address) names `i`.
bool Chosen(const std::string& choice, const Interface& i);

// Checks the form of an --interface value; false with one line in `error`.
bool CheckInterfaceChoice(const std::string& choice, std::string& error);

}  // namespace lxd::bridge
