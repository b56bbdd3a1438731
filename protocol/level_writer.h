// Builds level packets in a fixed buffer: no allocation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "protocol/layout.h"
#include "protocol/pack.h"

namespace lxd {

class LevelWriter {
  public:
    // Makes the packet carry `count` levels (at most 1,024) for the 1-based
    // store addresses start, start + 1, ...; false, leaving the packet as it
    // was, when there are more.
    bool Set(std::uint32_t start, const std::uint8_t* levels, std::uint32_t count) {
        if (count > kMaxLevelCount) {
            return false;
        }
        WriteBig16(buffer_, kLevelPacketKind);
        WriteBig16(buffer_ + kLevelCountOffset, count);
        WriteBig32(buffer_ + kLevelStartOffset, start);
        std::copy_n(levels, count, buffer_ + kLevelDataOffset);  // levels may be null for 0
        count_ = count;
        return true;
    }

    const std::uint8_t* Data() const { return buffer_; }
    std::size_t Size() const { return kLevelDataOffset + count_; }

  private:
    std::uint8_t buffer_[kLevelDataOffset + kMaxLevelCount] = {};
    std::uint32_t count_ = 0;
};

}  // namespace lxd
