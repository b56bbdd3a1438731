// Platform-specific: the interface list. Winsock's header comes first, as it
// must on Windows.
#if defined(_WIN32)
#include <winsock2.h>
// (after winsock2.h)
#include <iphlpapi.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#if defined(__linux__)
#include <linux/if_packet.h>
#endif
#endif

#include <cstring>

#include "tools/bridge/interfaces.h"

namespace lxd::bridge {
namespace {

// Parses a dotted IPv4 address (host order); false when `text` is not one.
bool ParseIpv4(const std::string& text, std::uint32_t& address) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) {
        return false;
    }
    address = ntohl(a.s_addr);
    return true;
}

}  // namespace

#if defined(_WIN32)
std::vector<Interface> ListInterfaces() {
    std::vector<Interface> found;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) {
        return found;
    }
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
         a = a->Next) {
        if (a->OperStatus != IfOperStatusUp) {
            continue;
        }
        char name[256] = {};
        WideCharToMultiByte(CP_UTF8, 0, a->FriendlyName, -1, name, sizeof name - 1, nullptr,
                            nullptr);
        for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            if (u->Address.lpSockaddr->sa_family != AF_INET) {
                continue;
            }
            Interface i;
            i.name = name;
            i.index = a->IfIndex;
            i.address =
                ntohl(reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
            if (a->PhysicalAddressLength == 6) {
                std::memcpy(i.mac, a->PhysicalAddress, 6);
            }
            i.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            i.multicast = (a->Flags & IP_ADAPTER_NO_MULTICAST) == 0 && !i.loopback;
            found.push_back(i);
        }
    }
    return found;
}
#else
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
        i.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        i.multicast = (a->ifa_flags & IFF_MULTICAST) != 0 && !i.loopback;
        found.push_back(i);
    }
#if defined(__linux__)
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
#endif

bool Chosen(const std::string& choice, const Interface& i) {
    std::uint32_t address = 0;
    return choice == i.name || (ParseIpv4(choice, address) && address == i.address);
}

bool CheckInterfaceChoice(const std::string& choice, std::string& error) {
    std::uint32_t address = 0;
    if (ParseIpv4(choice, address)) {
        return true;
    }
    const bool dotted =
        !choice.empty() && choice.find_first_not_of("0123456789.") == std::string::npos;
    bool bad = choice.empty() || dotted || choice.size() > 255;
#if !defined(_WIN32)
    // Interface names on Linux and the BSDs: at most 15 bytes, no '/' or blanks.
    bad = bad || choice.size() >= IFNAMSIZ || choice.find_first_of("/ \t") != std::string::npos;
#endif
    if (bad) {
        error = "'" + choice + "' is neither an IPv4 address nor an interface name";
    }
    return !bad;
}

}  // namespace lxd::bridge
