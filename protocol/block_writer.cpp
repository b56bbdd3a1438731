#include "protocol/block_writer.h"

#include <algorithm>
#include <cstring>

#include "protocol/pack.h"
#include "protocol/run_length.h"

namespace lxd {

void BlockWriter::Reset() {
    std::memset(buffer_, 0, kBlockDataArea);
    WriteBig16(buffer_, kBlockPacketKind);
    blocks_ = 0;
    coded_ = 0;
    lastCoded_ = false;
    used_ = 0;
}

bool BlockWriter::Add(std::uint16_t start, const std::uint8_t* levels, std::uint16_t count,
                      BlockCoding coding) {
    if (blocks_ == kMaxBlocks || start == 0 || count == 0) {
        return false;
    }
    std::uint8_t* const data = buffer_ + kBlockDataArea + used_;
    const std::uint32_t room = kBlockDataRoom - used_;
    // A code as long as the levels would be read as raw levels; a shorter one
    // is always worth sending, a longer one only when asked for.
    const std::uint32_t longest =
        coding == BlockCoding::kCoded ? MaxEncodedLength(count) : count - 1u;
    std::int32_t coded = -1;
    if (coding != BlockCoding::kRaw) {
        coded = EncodeRunLengthStrided(levels, count, data, std::min(longest, room), 1);
        if (coded >= 0 && static_cast<std::uint32_t>(coded) == count) {
            coded = -1;
        } else if (coded < 0 && longest > room) {
            return false;  // the code might fit in an emptier packet
        }
    }
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
    lastCoded_ = coded >= 0;
    WriteLittle16(buffer_ + kBlockStartOffset + 2 * blocks_, start);
    WriteLittle16(buffer_ + kBlockCountOffset + 2 * blocks_, count);
    WriteLittle16(buffer_ + kBlockDataOffsetOffset + 2 * blocks_, used_);
    used_ += length;
    ++blocks_;
    WriteLittle16(buffer_ + kBlockDataOffsetOffset + 2 * blocks_, used_);
    return true;
}

}  // namespace lxd
