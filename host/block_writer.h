// Builds block packets for the driver in a fixed buffer: no allocation, so
// that a tool may build one per received packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "intake/datagram.h"

namespace lxd::host {

class BlockWriter {
  public:
    BlockWriter() { Reset(); }

    // Starts an empty packet.
    void Reset();

    // Appends a block of `count` levels (1..512) for the 1-based store address
    // `start`. The block is run-length coded when the code is strictly shorter
    // than its levels (an equal length would be read as raw levels), raw
    // otherwise. Returns false, leaving the packet as it was, when the packet
    // already holds four blocks or the block does not fit in a datagram.
    bool Add(std::uint16_t start, const std::uint8_t* levels, std::uint16_t count);

    int Blocks() const { return blocks_; }
    int CodedBlocks() const { return coded_; }
    bool Empty() const { return blocks_ == 0; }
    const std::uint8_t* Data() const { return buffer_; }
    std::size_t Size() const { return kBlockDataArea + used_; }

  private:
    std::uint8_t buffer_[kReceiveBufferSize];
    int blocks_ = 0;
    int coded_ = 0;
    std::uint32_t used_ = 0;  // bytes of the data area
};

}  // namespace lxd::host
