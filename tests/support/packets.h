// Builds the driver's two datagram kinds field by field, for the tests: any
// kind, count field, data offsets and filler, malformed ones included. Tools
// build theirs with protocol/'s writers.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/layout.h"

namespace lxd::test {

using Bytes = std::vector<std::uint8_t>;

// A level packet: `levels` for store addresses start, start + 1, ...
// The count field defaults to levels.size(); tests may set it to anything.
struct LevelPacket {
    std::uint16_t kind = kLevelPacketKind;
    std::uint32_t start = 1;
    std::vector<std::uint8_t> levels;
    std::int32_t countField = -1;  // -1: the number of levels
    std::uint8_t filler = 0;       // the bytes the driver does not interpret

    Bytes Build() const;
};

// One block of a block packet: its store address, count and data bytes.
struct Block {
    std::uint16_t start = 0;
    std::uint16_t count = 0;
    Bytes data;
};

// A block packet of up to four blocks. Data offsets are computed from the
// blocks' data unless set explicitly in `offsets` (all five).
struct BlockPacket {
    std::uint16_t kind = kBlockPacketKind;
    std::vector<Block> blocks;
    std::vector<std::uint16_t> offsets;  // empty: computed
    std::uint8_t filler = 0;

    Bytes Build() const;
};

// The bytes of a level packet of `levels` at store address `start`, with the
// count field (-1: the number of levels) and the kind as given.
Bytes LevelDatagram(std::uint32_t start, const Bytes& levels, std::int32_t countField = -1,
                    std::uint16_t kind = kLevelPacketKind);
// The bytes of a block packet of `blocks`, with its data offsets computed
// unless given (all five).
Bytes BlockDatagram(const std::vector<Block>& blocks,
                    const std::vector<std::uint16_t>& offsets = {});

// A block's data run-length coded (stride 1).
Bytes CodedBlockData(const std::vector<std::uint8_t>& levels);

}  // namespace lxd::test
