// What the bridge's UDP sockets need beyond Asio: the arrival interface of
// each datagram (IP_PKTINFO), a large receive buffer, on Linux only the
// groups a socket joined itself, and batches received and bursts sent in one
// call each (recvmmsg, sendmmsg). POSIX and Windows each in a file of their
// own.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "tools/bridge/core/io.h"
#include "tools/bridge/net/delivery.h"

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

// The datagrams one receive call took from a socket, with their senders and
// arrival interfaces, in buffers of its own (set up once): each Receive
// replaces what the last one took.
class ReceiveBatch {
  public:
    ReceiveBatch();
    ~ReceiveBatch();
    ReceiveBatch(const ReceiveBatch&) = delete;
    ReceiveBatch& operator=(const ReceiveBatch&) = delete;

    static constexpr int kFault = -1;
    // Takes up to kMaxBatch datagrams waiting on the non-blocking `socket`:
    // one recvmmsg on Linux, one call per datagram elsewhere. Returns how many
    // (0 when none waits; fewer than kMaxBatch: none was left), or kFault
    // when the call failed (e.g. Windows reporting an earlier reply as
    // unreachable).
    int Receive(asio::ip::udp::socket& socket);
    const Received* Datagrams() const { return got_; }

  private:
    struct Room;  // the buffers and what the system call fills in besides
    std::unique_ptr<Room> room_;
    Received got_[kMaxBatch];
};

// Sends one datagram to `to` out of interface `via` from our address `from`
// (0 for either: the routing table decides).
void SendVia(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
             const std::uint8_t* data, std::size_t size, std::uint32_t via, std::uint32_t from);

// Sends `count` datagrams to `to` back to back: one sendmmsg on Linux, one
// send each elsewhere. Returns how many were sent, in order.
int SendBurst(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
              const Datagram* datagrams, int count);

// The burst where a system has no call for it: one send each, up to the
// first that fails.
inline int SendEach(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
                    const Datagram* datagrams, int count) {
    int sent = 0;
    asio::error_code ec;
    while (sent < count &&
           socket.send_to(asio::buffer(datagrams[sent].data, datagrams[sent].size), to, 0, ec) ==
               datagrams[sent].size &&
           !ec) {
        ++sent;
    }
    return sent;
}

}  // namespace lxd::bridge
