#include "tests/support/packets.h"

#include <algorithm>

#include "protocol/pack.h"
#include "protocol/run_length.h"

namespace lxd::test {

Bytes LevelPacket::Build() const {
    Bytes b(kLevelDataOffset + levels.size(), filler);
    WriteBig16(b.data(), kind);
    const std::uint32_t count =
        countField >= 0 ? static_cast<std::uint32_t>(countField) : levels.size();
    WriteBig16(b.data() + kLevelCountOffset, count);
    WriteBig32(b.data() + kLevelStartOffset, start);
    std::copy(levels.begin(), levels.end(), b.begin() + kLevelDataOffset);
    return b;
}

Bytes BlockPacket::Build() const {
    Bytes b(kBlockDataArea, filler);
    WriteBig16(b.data(), kind);
    for (int i = 0; i < kMaxBlocks; ++i) {
        const Block empty;
        const Block& block = i < static_cast<int>(blocks.size()) ? blocks[i] : empty;
        WriteLittle16(b.data() + kBlockStartOffset + 2 * i, block.start);
        WriteLittle16(b.data() + kBlockCountOffset + 2 * i, block.count);
    }
    std::uint32_t offset = 0;
    for (int i = 0; i <= kMaxBlocks; ++i) {
        std::uint32_t value;
        if (!offsets.empty()) {
            value = i < static_cast<int>(offsets.size()) ? offsets[i] : 0;
        } else if (i <= static_cast<int>(blocks.size())) {
            value = offset;
            if (i < static_cast<int>(blocks.size())) {
                offset += blocks[i].data.size();
            }
        } else {
            value = 0;
        }
        WriteLittle16(b.data() + kBlockDataOffsetOffset + 2 * i, value);
    }
    std::size_t total = kBlockDataArea;
    for (const Block& block : blocks) {
        total += block.data.size();
    }
    b.resize(total, filler);
    std::size_t at = kBlockDataArea;
    for (const Block& block : blocks) {
        std::copy(block.data.begin(), block.data.end(), b.begin() + static_cast<long>(at));
        at += block.data.size();
    }
    return b;
}

Bytes LevelDatagram(std::uint32_t start, const Bytes& levels, std::int32_t countField,
                    std::uint16_t kind) {
    return LevelPacket{kind, start, levels, countField}.Build();
}

Bytes BlockDatagram(const std::vector<Block>& blocks, const std::vector<std::uint16_t>& offsets) {
    return BlockPacket{kBlockPacketKind, blocks, offsets}.Build();
}

Bytes CodedBlockData(const std::vector<std::uint8_t>& levels) {
    Bytes code(MaxEncodedLength(static_cast<std::uint32_t>(levels.size())));
    const std::int32_t n =
        EncodeRunLengthStrided(levels.data(), static_cast<std::uint32_t>(levels.size()),
                               code.data(), static_cast<std::uint32_t>(code.size()), 1);
    code.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return code;
}

}  // namespace lxd::test
