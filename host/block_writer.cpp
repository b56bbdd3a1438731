#include "host/block_writer.h"

#include <algorithm>
#include <cstring>

#include "intake/run_length.h"

namespace lxd::host {
namespace {

void PutLittle16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::uint32_t kDataRoom = kReceiveBufferSize - kBlockDataArea;

}  // namespace

void BlockWriter::Reset() {
    std::memset(buffer_, 0, kBlockDataArea);
    buffer_[0] = static_cast<std::uint8_t>(kBlockPacketKind >> 8);
    buffer_[1] = static_cast<std::uint8_t>(kBlockPacketKind & 0xFF);
    blocks_ = 0;
    coded_ = 0;
    used_ = 0;
}

bool BlockWriter::Add(std::uint16_t start, const std::uint8_t* levels, std::uint16_t count) {
    if (blocks_ == kMaxBlocks || start == 0 || count == 0) {
        return false;
    }
    std::uint8_t* const data = buffer_ + kBlockDataArea + used_;
    const std::uint32_t room = kDataRoom - used_;
    // A code is worth sending only when strictly shorter than the levels.
    const std::uint32_t codeCapacity = std::min<std::uint32_t>(count - 1u, room);
    const std::int32_t coded = EncodeRunLengthStrided(levels, count, data, codeCapacity, 1);
    std::uint32_t length;
    if (coded >= 0) {
        length = static_cast<std::uint32_t>(coded);
        ++coded_;
    } else if (count <= room) {
        std::memcpy(data, levels, count);
        length = count;
    } else {
        return false;
    }
    PutLittle16(buffer_ + kBlockStartOffset + 2 * blocks_, start);
    PutLittle16(buffer_ + kBlockCountOffset + 2 * blocks_, count);
    PutLittle16(buffer_ + kBlockDataOffsetOffset + 2 * blocks_, used_);
    used_ += length;
    ++blocks_;
    PutLittle16(buffer_ + kBlockDataOffsetOffset + 2 * blocks_, used_);
    return true;
}

}  // namespace lxd::host
