// What the bridge's UDP sockets need beyond Asio: the arrival interface of
// each datagram (IP_PKTINFO), a large receive buffer, on Linux only the
// groups a socket joined itself, and bursts sent in one call (sendmmsg).
// POSIX and Windows each in a file of their own.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

// On Linux a socket bound to every address would otherwise also receive the
// groups that the bridge's other sockets joined, on every interface. With
// this, a socket gets only its own groups on the interface it joined them on.
// Nothing elsewhere.
void ReceiveJoinedGroupsOnly(asio::ip::udp::socket& socket);
// Asks for the arrival interface of each datagram.
void AskForPacketInfo(asio::ip::udp::socket& socket);
// Asks for `bytes` of receive buffer (beyond the system's limit where
// allowed); returns what was granted.
int GrowReceiveBuffer(asio::ip::udp::socket& socket, int bytes);

// The most datagrams one call sends.
inline constexpr int kMaxBurst = 64;

enum class Got { kDatagram, kNothing, kFault };

// One datagram of at most `room` bytes into `buffer`, with its sender and
// arrival interface (via 0 when not told). The socket is non-blocking:
// kNothing when none waits.
Got ReceiveOne(asio::ip::udp::socket& socket, std::uint8_t* buffer, std::size_t room,
               std::size_t& size, Arrival& from);

// Sends one datagram to `to` out of interface `via` from our address `from`
// (0 for either: the routing table decides).
void SendVia(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
             const std::uint8_t* data, std::size_t size, std::uint32_t via, std::uint32_t from);

// Sends `count` datagrams to `to` back to back: one sendmmsg on Linux, one
// send each elsewhere. Returns how many were sent, in order.
int SendBurst(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
              const Datagram* datagrams, int count);

}  // namespace lxd::bridge
