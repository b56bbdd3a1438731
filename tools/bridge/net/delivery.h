// What becomes of the datagrams one receive took, in the order they came:
// with --interface, those that arrived on another interface are counted and
// dropped; the others go to the bridge, read in place. The sockets take this
// one path after every receive, and the fuzzers feed it batches of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

class Bridge;

// The most datagrams one receive call takes.
inline constexpr int kMaxBatch = 64;
// Room for one received datagram: more than the longest sACN or Art-Net
// packet; a longer datagram is cut to it (and its parser finds it short).
inline constexpr std::size_t kDatagramRoom = 1500;

// One datagram received, where the receive left it.
struct Received {
    const std::uint8_t* data;
    std::size_t size;
    Arrival from;
};

class Delivery {
  public:
    // Takes datagrams from every interface (the default), or when
    // `restricted` only from those whose index is listed (and those whose
    // arrival interface the system did not tell).
    void Accept(bool restricted, std::vector<std::uint32_t> interfaces);

    // Hands `count` datagrams that arrived on the sACN port to `bridge`;
    // returns how many it took.
    int Sacn(Bridge& bridge, const Received* datagrams, int count, Millis now);
    // The same for the Art-Net port; polls are answered through `replies`.
    int Artnet(Bridge& bridge, const Received* datagrams, int count, Millis now,
               ReplySink& replies);

    // The arrival interface of the Art-Net datagram handed over last (its
    // poll's replies leave by it).
    std::uint32_t ArtnetVia() const { return artnetVia_; }
    // Datagrams dropped for the interface they arrived on.
    std::uint64_t Foreign() const { return foreign_; }

  private:
    bool Accepted(std::uint32_t via);

    bool restricted_ = false;
    std::vector<std::uint32_t> interfaces_;
    std::uint32_t artnetVia_ = 0;
    std::uint64_t foreign_ = 0;
};

}  // namespace lxd::bridge
