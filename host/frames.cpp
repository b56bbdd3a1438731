#include "host/frames.h"

#include <cstring>

namespace lxd::host {
namespace {

constexpr std::uint16_t kIpv4EtherType = 0x0800;
constexpr std::uint16_t kVlanEtherType = 0x8100;
constexpr std::uint16_t kQinQEtherType = 0x88A8;
constexpr std::uint16_t kLoopbackHardware = 772;  // ARPHRD_LOOPBACK
constexpr std::uint8_t kInetFamily = 2;           // AF_INET on every system
constexpr std::uint8_t kUdpProtocol = 17;
constexpr std::uint32_t kIpv4Header = 20;
constexpr std::uint32_t kUdpHeader = 8;
constexpr std::uint16_t kMoreFragments = 0x2000;
constexpr std::uint16_t kFragmentOffset = 0x1FFF;

std::uint32_t Big16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] << 8 | p[1]);
}
void PutBig16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void PutBig32(std::uint8_t* p, std::uint32_t v) {
    PutBig16(p, v >> 16);
    PutBig16(p + 2, v & 0xFFFF);
}

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
            PutBig16(at + 12, kIpv4EtherType);
            break;
        case Link::kLinuxCooked:  // packet type 0 (to us), hardware, address length
            PutBig16(at + 2, kLoopbackHardware);
            PutBig16(at + 4, 6);
            PutBig16(at + 14, kIpv4EtherType);
            break;
        case Link::kLinuxCooked2:  // protocol, reserved, interface 1, hardware, type, length
            PutBig16(at, kIpv4EtherType);
            PutBig32(at + 4, 1);
            PutBig16(at + 8, kLoopbackHardware);
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
        sum += Big16(header + i);
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// Where the IPv4 packet starts behind the link header; false when the frame
// carries something else (kOther) or is cut short (kMalformed, in `kind`).
bool SkipLinkHeader(Link link, const std::uint8_t* frame, std::uint32_t length, std::uint32_t& at,
                    FrameKind& kind) {
    kind = FrameKind::kMalformed;
    const std::uint32_t header = static_cast<std::uint32_t>(LinkHeaderSize(link));
    if (length < header) {
        return false;
    }
    at = header;
    std::uint32_t type = kIpv4EtherType;
    switch (link) {
        case Link::kEthernet:
            type = Big16(frame + 12);
            for (int tags = 0; tags < 2 && (type == kVlanEtherType || type == kQinQEtherType);
                 ++tags) {
                if (length - at < 4) {
                    return false;
                }
                type = Big16(frame + at + 2);
                at += 4;
            }
            break;
        case Link::kLinuxCooked:
            type = Big16(frame + 14);
            break;
        case Link::kLinuxCooked2:
            type = Big16(frame);
            break;
        case Link::kRawIp:
            if (length == 0) {
                return false;
            }
            type = (frame[0] >> 4) == 4 ? kIpv4EtherType : 0;
            break;
        case Link::kNull: {
            // The capturing system's byte order: either end holds the family.
            const bool little =
                frame[0] == kInetFamily && frame[1] == 0 && frame[2] == 0 && frame[3] == 0;
            const bool big =
                frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == kInetFamily;
            type = little || big ? kIpv4EtherType : 0;
            break;
        }
        case Link::kLoop:
            type = frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == kInetFamily
                       ? kIpv4EtherType
                       : 0;
            break;
    }
    if (type != kIpv4EtherType) {
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
    PutBig16(ip + 2, static_cast<std::uint32_t>(kIpv4Header + kUdpHeader + size));
    PutBig16(ip + 4, identification);
    ip[8] = 64;  // time to live
    ip[9] = kUdpProtocol;
    PutBig32(ip + 12, from.address);
    PutBig32(ip + 16, to.address);
    PutBig16(ip + 10, Ipv4Checksum(ip));

    std::uint8_t* const udp = ip + kIpv4Header;
    PutBig16(udp, from.port);
    PutBig16(udp + 2, to.port);
    PutBig16(udp + 4, static_cast<std::uint32_t>(kUdpHeader + size));
    if (size != 0) {
        std::memcpy(udp + kUdpHeader, payload, size);
    }
    return total;
}

FrameKind FindUdpDatagram(Link link, const std::uint8_t* frame, std::uint32_t length,
                          UdpDatagram& out) {
    std::uint32_t at = 0;
    FrameKind kind = FrameKind::kMalformed;
    if (!SkipLinkHeader(link, frame, length, at, kind)) {
        return kind;
    }
    const std::uint8_t* const ip = frame + at;
    const std::uint32_t captured = length - at;
    if (captured < kIpv4Header) {
        return FrameKind::kMalformed;
    }
    if ((ip[0] >> 4) != 4) {
        return FrameKind::kMalformed;
    }
    const std::uint32_t headerLength = (ip[0] & 0x0Fu) * 4;
    const std::uint32_t totalLength = Big16(ip + 2);
    if (headerLength < kIpv4Header || headerLength > captured || totalLength < headerLength) {
        return FrameKind::kMalformed;
    }
    if ((Big16(ip + 6) & (kMoreFragments | kFragmentOffset)) != 0) {
        return FrameKind::kFragment;
    }
    if (ip[9] != kUdpProtocol) {
        return FrameKind::kOther;
    }
    // Bytes of the IP payload that are both announced and captured: link
    // padding behind the packet is not part of it.
    const std::uint32_t available =
        (totalLength < captured ? totalLength : captured) - headerLength;
    const std::uint8_t* const udp = ip + headerLength;
    if (available < kUdpHeader) {
        return FrameKind::kMalformed;
    }
    const std::uint32_t udpLength = Big16(udp + 4);
    if (udpLength < kUdpHeader || udpLength > available) {
        return FrameKind::kMalformed;
    }
    out.from =
        UdpEndpoint{Big16(ip + 12) << 16 | Big16(ip + 14), static_cast<std::uint16_t>(Big16(udp))};
    out.to = UdpEndpoint{Big16(ip + 16) << 16 | Big16(ip + 18),
                         static_cast<std::uint16_t>(Big16(udp + 2))};
    out.payload = udp + kUdpHeader;
    out.size = udpLength - kUdpHeader;
    return FrameKind::kUdp;
}

}  // namespace lxd::host
