// Puts IPv4 fragments of UDP datagrams back together, as a capture reader
// meets them: a few datagrams at once in buffers sized once, the oldest
// given up when a new one needs its buffer.
#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include "host/frames.h"

namespace lxd::host {

class Reassembler {
  public:
    Reassembler();

    // Takes one fragment. When it completes a datagram, returns true with
    // `payload` and `size` set to the whole IP payload (valid until the next
    // call). Fragments of other protocols, overlong ones and non-final ones
    // whose size is not a multiple of 8 are dropped.
    bool Add(const Ipv4Fragment& fragment, const std::uint8_t*& payload, std::uint32_t& size);
    // The fragments that made up the datagram Add last completed.
    std::uint32_t Pieces() const { return pieces_; }

  private:
    static constexpr int kSlots = 4;
    static constexpr std::uint32_t kMaxPayload = 65535 - 20;  // an IPv4 packet's largest
    static constexpr std::uint32_t kUnits = (kMaxPayload + 7) / 8;

    struct Slot {
        bool used = false;
        std::uint32_t from = 0;
        std::uint32_t to = 0;
        std::uint16_t identification = 0;
        std::uint64_t age = 0;       // when it was started
        std::uint32_t total = 0;     // known once the last fragment is in (0: not yet)
        std::uint32_t received = 0;  // 8-byte units received
        std::uint32_t pieces = 0;    // fragments taken
        std::bitset<kUnits> units;
        std::vector<std::uint8_t> bytes;
    };

    Slot& SlotFor(const Ipv4Fragment& fragment);

    Slot slots_[kSlots];
    std::uint64_t clock_ = 0;
    std::uint32_t pieces_ = 0;
};

}  // namespace lxd::host
