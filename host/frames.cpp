#include "host/frames.h"

#include <cstring>

#include "protocol/pack.h"

namespace lxd::host {
namespace {

constexpr std::uint16_t kIpv4EtherType = 0x0800;
constexpr std::uint16_t kIpv6EtherType = 0x86DD;
constexpr std::uint16_t kVlanEtherType = 0x8100;
constexpr std::uint16_t kQinQEtherType = 0x88A8;
constexpr std::uint16_t kLoopbackHardware = 772;  // ARPHRD_LOOPBACK
constexpr std::uint8_t kInetFamily = 2;           // AF_INET on every system
constexpr std::uint8_t kUdpProtocol = 17;
constexpr std::uint32_t kIpv4Header = 20;
constexpr std::uint32_t kIpv6Header = 40;
constexpr std::uint32_t kUdpHeader = 8;
constexpr std::uint16_t kMoreFragments = 0x2000;
constexpr std::uint16_t kFragmentOffset = 0x1FFF;

std::size_t LinkHeaderSize(Link link) {
    switch (link) {
        case Link::kEthernet:
            return 14;
        case Link::kLinuxCooked:
            return 16;
        case Link::kLinuxCooked2:
            return 20;
        case Link::kRawIp:
            return 0;
        case Link::kNull:
        case Link::kLoop:
            return 4;
    }
    return 0;
}

// The link header of an IPv4 frame sent on loopback; `at` is zeroed.
void PutLinkHeader(Link link, std::uint8_t* at) {
    switch (link) {
        case Link::kEthernet:
            WriteBig16(at + 12, kIpv4EtherType);
            break;
        case Link::kLinuxCooked:  // packet type 0 (to us), hardware, address length
            WriteBig16(at + 2, kLoopbackHardware);
            WriteBig16(at + 4, 6);
            WriteBig16(at + 14, kIpv4EtherType);
            break;
        case Link::kLinuxCooked2:  // protocol, reserved, interface 1, hardware, type, length
            WriteBig16(at, kIpv4EtherType);
            WriteBig32(at + 4, 1);
            WriteBig16(at + 8, kLoopbackHardware);
            at[11] = 6;
            break;
        case Link::kRawIp:
            break;
        case Link::kNull:  // the family in this (little-endian) writer's order
            at[0] = kInetFamily;
            break;
        case Link::kLoop:
            at[3] = kInetFamily;
            break;
    }
}

std::uint16_t Ipv4Checksum(const std::uint8_t* header) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < kIpv4Header; i += 2) {
        sum += ReadBig16(header + i);
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// AF_INET6 differs between systems: Linux, the BSDs, macOS.
bool IsInet6Family(std::uint32_t family) {
    return family == 10 || family == 24 || family == 28 || family == 30;
}

// The loopback header's family, in the writer's byte order (either end).
std::uint32_t NullFamily(const std::uint8_t* p) {
    return p[1] == 0 && p[2] == 0 && p[3] == 0   ? p[0]
           : p[0] == 0 && p[1] == 0 && p[2] == 0 ? p[3]
                                                 : 0;
}

// Where the IP packet starts behind the link header, and its type (the
// ethertype of IPv4 or IPv6); false when the frame carries something else
// (kOther) or is cut short (kMalformed, in `kind`).
bool SkipLinkHeader(Link link, const std::uint8_t* frame, std::uint32_t length, std::uint32_t& at,
                    std::uint32_t& type, FrameKind& kind) {
    kind = FrameKind::kMalformed;
    const std::uint32_t header = static_cast<std::uint32_t>(LinkHeaderSize(link));
    if (length < header) {
        return false;
    }
    at = header;
    type = kIpv4EtherType;
    switch (link) {
        case Link::kEthernet:
            type = ReadBig16(frame + 12);
            for (int tags = 0; tags < 2 && (type == kVlanEtherType || type == kQinQEtherType);
                 ++tags) {
                if (length - at < 4) {
                    return false;
                }
                type = ReadBig16(frame + at + 2);
                at += 4;
            }
            break;
        case Link::kLinuxCooked:
            type = ReadBig16(frame + 14);
            break;
        case Link::kLinuxCooked2:
            type = ReadBig16(frame);
            break;
        case Link::kRawIp:
            if (length == 0) {
                return false;
            }
            type = (frame[0] >> 4) == 4   ? kIpv4EtherType
                   : (frame[0] >> 4) == 6 ? kIpv6EtherType
                                          : 0;
            break;
        case Link::kNull:
        case Link::kLoop: {
            // DLT_NULL in the capturing system's byte order, DLT_LOOP in network order.
            const std::uint32_t family = link == Link::kLoop
                                             ? (frame[0] | frame[1] | frame[2]) == 0 ? frame[3] : 0
                                             : NullFamily(frame);
            type = family == kInetFamily   ? kIpv4EtherType
                   : IsInet6Family(family) ? kIpv6EtherType
                                           : 0;
            break;
        }
    }
    if (type != kIpv4EtherType && type != kIpv6EtherType) {
        kind = FrameKind::kOther;
        return false;
    }
    return true;
}

}  // namespace

std::size_t BuildUdpFrame(Link link, const UdpEndpoint& from, const UdpEndpoint& to,
                          std::uint16_t identification, const std::uint8_t* payload,
                          std::size_t size, std::uint8_t* frame, std::size_t capacity) {
    const std::size_t linkHeader = LinkHeaderSize(link);
    if (size > kMaxUdpPayload || capacity < linkHeader + kIpv4Header + kUdpHeader ||
        size > capacity - linkHeader - kIpv4Header - kUdpHeader) {
        return 0;
    }
    const std::size_t total = linkHeader + kIpv4Header + kUdpHeader + size;
    std::memset(frame, 0, linkHeader + kIpv4Header + kUdpHeader);
    PutLinkHeader(link, frame);

    std::uint8_t* const ip = frame + linkHeader;
    ip[0] = 0x45;  // version 4, five 32-bit words
    WriteBig16(ip + 2, static_cast<std::uint32_t>(kIpv4Header + kUdpHeader + size));
    WriteBig16(ip + 4, identification);
    ip[8] = 64;  // time to live
    ip[9] = kUdpProtocol;
    WriteBig32(ip + 12, from.address);
    WriteBig32(ip + 16, to.address);
    WriteBig16(ip + 10, Ipv4Checksum(ip));

    std::uint8_t* const udp = ip + kIpv4Header;
    WriteBig16(udp, from.port);
    WriteBig16(udp + 2, to.port);
    WriteBig16(udp + 4, static_cast<std::uint32_t>(kUdpHeader + size));
    if (size != 0) {
        std::memcpy(udp + kUdpHeader, payload, size);
    }
    return total;
}

FrameKind FindUdpInIpPayload(const std::uint8_t* udp, std::uint32_t available, std::uint32_t from,
                             std::uint32_t to, UdpDatagram& out) {
    if (available < kUdpHeader) {
        return FrameKind::kMalformed;
    }
    const std::uint32_t udpLength = ReadBig16(udp + 4);
    if (udpLength < kUdpHeader || udpLength > available) {
        return FrameKind::kMalformed;
    }
    out.from = UdpEndpoint{from, static_cast<std::uint16_t>(ReadBig16(udp))};
    out.to = UdpEndpoint{to, static_cast<std::uint16_t>(ReadBig16(udp + 2))};
    out.payload = udp + kUdpHeader;
    out.size = udpLength - kUdpHeader;
    return FrameKind::kUdp;
}

FrameKind FindUdpDatagram(Link link, const std::uint8_t* frame, std::uint32_t length,
                          UdpDatagram& out, Ipv4Fragment* fragment) {
    std::uint32_t at = 0;
    std::uint32_t type = 0;
    FrameKind kind = FrameKind::kMalformed;
    if (!SkipLinkHeader(link, frame, length, at, type, kind)) {
        return kind;
    }
    const std::uint8_t* const ip = frame + at;
    const std::uint32_t captured = length - at;
    if (type == kIpv6EtherType) {
        // Only a UDP header right behind the fixed header is looked for.
        if (captured < kIpv6Header + 4 || (ip[0] >> 4) != 6) {
            return FrameKind::kMalformed;
        }
        if (ip[6] != kUdpProtocol) {
            return FrameKind::kOther;
        }
        out.from.port = static_cast<std::uint16_t>(ReadBig16(ip + kIpv6Header));
        out.to.port = static_cast<std::uint16_t>(ReadBig16(ip + kIpv6Header + 2));
        return FrameKind::kIpv6Udp;
    }
    if (captured < kIpv4Header) {
        return FrameKind::kMalformed;
    }
    if ((ip[0] >> 4) != 4) {
        return FrameKind::kMalformed;
    }
    const std::uint32_t headerLength = (ip[0] & 0x0Fu) * 4;
    const std::uint32_t totalLength = ReadBig16(ip + 2);
    if (headerLength < kIpv4Header || headerLength > captured || totalLength < headerLength) {
        return FrameKind::kMalformed;
    }
    const std::uint32_t from = ReadBig32(ip + 12);
    const std::uint32_t to = ReadBig32(ip + 16);
    const std::uint32_t flags = ReadBig16(ip + 6);
    if ((flags & (kMoreFragments | kFragmentOffset)) != 0) {
        // A fragment is taken only whole.
        if (totalLength > captured) {
            return FrameKind::kMalformed;
        }
        if (fragment != nullptr) {
            fragment->from = from;
            fragment->to = to;
            fragment->identification = static_cast<std::uint16_t>(ReadBig16(ip + 4));
            fragment->protocol = ip[9];
            fragment->more = (flags & kMoreFragments) != 0;
            fragment->offset = (flags & kFragmentOffset) * 8;
            fragment->bytes = ip + headerLength;
            fragment->size = totalLength - headerLength;
        }
        return FrameKind::kFragment;
    }
    if (ip[9] != kUdpProtocol) {
        return FrameKind::kOther;
    }
    // Bytes of the IP payload that are both announced and captured: link
    // padding behind the packet is not part of it.
    const std::uint32_t available =
        (totalLength < captured ? totalLength : captured) - headerLength;
    return FindUdpInIpPayload(ip + headerLength, available, from, to, out);
}

}  // namespace lxd::host
