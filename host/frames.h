// Link-layer, IPv4 and UDP framing of datagrams as capture files hold them:
// wrapping a UDP payload in a frame, and finding the payload in a captured
// frame. Pure functions over bytes; the capture files themselves are in
// host/capture.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd::host {

// The link layers handled: Ethernet (with up to two VLAN tags), Linux cooked
// v1 and v2, raw IP, and the BSD loopback headers (DLT_NULL in the writer's
// byte order, DLT_LOOP in network order).
enum class Link { kEthernet, kLinuxCooked, kLinuxCooked2, kRawIp, kNull, kLoop };

// An IPv4 address (as a number: 127.0.0.1 is 0x7F000001) and a UDP port.
struct UdpEndpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;
inline constexpr std::size_t kMaxUdpPayload = 65507;         // 65,535 - IPv4 and UDP headers
inline constexpr std::size_t kMaxFrameHeader = 20 + 20 + 8;  // Linux cooked v2, IPv4, UDP
inline constexpr std::size_t kMaxFrame = kMaxFrameHeader + kMaxUdpPayload;

// Writes the frame that carries `size` payload bytes from `from` to `to` over
// `link` into `frame` (`capacity` bytes): IPv4 with a header checksum, the
// given identification and no fragmentation, UDP without a checksum. Returns
// the frame's length, or 0 when the payload or the frame does not fit.
std::size_t BuildUdpFrame(Link link, const UdpEndpoint& from, const UdpEndpoint& to,
                          std::uint16_t identification, const std::uint8_t* payload,
                          std::size_t size, std::uint8_t* frame, std::size_t capacity);

enum class FrameKind {
    kUdp,        // an IPv4 UDP datagram, found whole
    kIpv6Udp,    // an IPv6 UDP datagram (its ports found, nothing else)
    kOther,      // neither IPv4 nor IPv6, or not UDP
    kFragment,   // an IPv4 fragment (more fragments set or an offset)
    kMalformed,  // headers cut short or inconsistent with the captured bytes
};

struct UdpDatagram {
    UdpEndpoint from;
    UdpEndpoint to;
    const std::uint8_t* payload = nullptr;  // inside the frame
    std::uint32_t size = 0;
};

// An IPv4 fragment whose bytes the frame holds whole.
struct Ipv4Fragment {
    std::uint32_t from = 0;  // addresses
    std::uint32_t to = 0;
    std::uint16_t identification = 0;
    std::uint8_t protocol = 0;
    bool more = false;                    // more fragments follow
    std::uint32_t offset = 0;             // in bytes, into the IP payload
    const std::uint8_t* bytes = nullptr;  // inside the frame
    std::uint32_t size = 0;
};

// Finds the UDP datagram in `length` captured bytes of a frame over `link`.
// Reads nothing outside the frame; fills `out` only for kUdp (and its ports
// for kIpv6Udp), and `fragment`, when given, for kFragment.
FrameKind FindUdpDatagram(Link link, const std::uint8_t* frame, std::uint32_t length,
                          UdpDatagram& out, Ipv4Fragment* fragment = nullptr);

// Finds the UDP datagram in `size` bytes of an IPv4 payload between two
// addresses (a reassembled one): kUdp or kMalformed.
FrameKind FindUdpInIpPayload(const std::uint8_t* payload, std::uint32_t size, std::uint32_t from,
                             std::uint32_t to, UdpDatagram& out);

}  // namespace lxd::host
