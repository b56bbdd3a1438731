// The interface list on Windows (IP Helper). Winsock's header comes first,
// as it must.
#include <winsock2.h>
// (after winsock2.h)
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "tools/bridge/net/interfaces.h"

namespace lxd::bridge {

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
            const ULONG prefix = std::min<ULONG>(u->OnLinkPrefixLength, 32);
            i.netmask = prefix == 0 ? 0 : ~0u << (32 - prefix);
            i.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            i.multicast = (a->Flags & IP_ADAPTER_NO_MULTICAST) == 0;
            found.push_back(i);
        }
    }
    return found;
}

}  // namespace lxd::bridge
