// Builds block packets in a fixed buffer: no allocation, so that a tool may
// build one per received packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/layout.h"

namespace lxd {

// How a block's levels travel.
enum class BlockCoding {
    kShorter,  // run-length coded when the code is strictly shorter, raw otherwise
    kRaw,      // raw levels
    kCoded,    // coded, unless the code is exactly as long as the levels (the
               // driver would read it as raw levels): then raw
};

class BlockWriter {
  public:
    BlockWriter() { Reset(); }

    // Starts an empty packet.
    void Reset();

    // Appends a block of `count` levels (1..512) for the 1-based store address
    // `start`, coded as `coding` asks. Returns false, leaving the packet as it
    // was, when the packet already holds four blocks or the block does not fit
    // in a datagram.
    bool Add(std::uint16_t start, const std::uint8_t* levels, std::uint16_t count,
             BlockCoding coding = BlockCoding::kShorter);

    int Blocks() const { return blocks_; }
    int CodedBlocks() const { return coded_; }
    // Whether the block added last went coded.
    bool LastCoded() const { return lastCoded_; }
    bool Empty() const { return blocks_ == 0; }
    const std::uint8_t* Data() const { return buffer_; }
    std::size_t Size() const { return kBlockDataArea + used_; }

  private:
    std::uint8_t buffer_[kLargestDatagram];
    int blocks_ = 0;
    int coded_ = 0;
    bool lastCoded_ = false;
    std::uint32_t used_ = 0;  // bytes of the data area
};

}  // namespace lxd
