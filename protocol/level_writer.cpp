#include "protocol/level_writer.h"

#include <cstring>

#include "protocol/pack.h"

namespace lxd {

bool LevelWriter::Set(std::uint32_t start, const std::uint8_t* levels, std::uint32_t count) {
    if (count > kMaxLevelCount) {
        return false;
    }
    WriteBig16(buffer_, kLevelPacketKind);
    WriteBig16(buffer_ + kLevelCountOffset, count);
    WriteBig32(buffer_ + kLevelStartOffset, start);
    std::memcpy(buffer_ + kLevelDataOffset, levels, count);
    count_ = count;
    return true;
}

}  // namespace lxd
