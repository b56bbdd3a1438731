// What the bridge's core hands to the layers around it and takes from them:
// time, where a datagram came from, and where datagrams for the driver and
// poll replies go. The sockets (net/) implement the sinks; tests and fuzzers
// put recorders in their place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/clock.h"

namespace lxd::bridge {

// Time on the host clock, passed in so that tests set it.
using host::Millis;

// Where a datagram came from: the sender's IPv4 address (host order) and the
// index of the interface it arrived on (0: unknown).
struct Arrival {
    std::uint32_t address = 0;
    std::uint32_t via = 0;
};

// One datagram to send: bytes owned by the caller.
struct Datagram {
    const std::uint8_t* data;
    std::size_t size;
};

// Where datagrams for the driver go.
class DatagramSink {
  public:
    virtual ~DatagramSink() = default;
    // False when the datagram could not be sent.
    virtual bool Send(const std::uint8_t* data, std::size_t size) = 0;
    // Sends `count` datagrams back to back, as one burst (one system call
    // where the system has one), so that a host reads all or none of them;
    // returns how many were sent, in order.
    virtual int SendBurst(const Datagram* datagrams, int count) {
        int sent = 0;
        while (sent < count && Send(datagrams[sent].data, datagrams[sent].size)) {
            ++sent;
        }
        return sent;
    }
};

// Where ArtPollReply packets go, and which of our addresses the poller reaches.
class ReplySink {
  public:
    virtual ~ReplySink() = default;
    // Our address on the network of the interface the poll arrived on; 0 when
    // the poller is not on it (the poll is not answered).
    virtual std::uint32_t OwnAddressFor(std::uint32_t poller) = 0;
    // The hardware address of the interface that has IPv4 `address`; leaves
    // `mac` (6 bytes) as it is when unknown.
    virtual void MacFor(std::uint32_t address, std::uint8_t* mac) {
        (void)address;
        (void)mac;
    }
    virtual void Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) = 0;
};

}  // namespace lxd::bridge
