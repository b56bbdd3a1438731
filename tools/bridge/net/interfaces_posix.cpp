// The interface list on Linux and the BSDs (getifaddrs).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#if defined(__linux__)
#include <linux/if_packet.h>
#endif

#include <cstring>

#include "tools/bridge/net/interfaces.h"

namespace lxd::bridge {

std::vector<Interface> ListInterfaces() {
    std::vector<Interface> found;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) {
        return found;
    }
    for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            (a->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        Interface i;
        i.name = a->ifa_name;
        i.index = if_nametoindex(a->ifa_name);
        i.address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
        if (a->ifa_netmask != nullptr && a->ifa_netmask->sa_family == AF_INET) {
            i.netmask =
                ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
        }
        i.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        i.multicast = (a->ifa_flags & IFF_MULTICAST) != 0;
        found.push_back(i);
    }
#if defined(__linux__)
    // The hardware addresses: Linux lists them as AF_PACKET entries.
    for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        for (Interface& i : found) {
            if (i.name == a->ifa_name && link->sll_halen == 6) {
                std::memcpy(i.mac, link->sll_addr, 6);
            }
        }
    }
#endif
    freeifaddrs(all);
    return found;
}

}  // namespace lxd::bridge
