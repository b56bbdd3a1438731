#include "intake/datagram.h"

#include <cstring>

#include "intake/run_length.h"
#include "intake/store_layout.h"

namespace lxd {
namespace {

std::uint32_t BigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] << 8 | p[1]);
}
std::uint32_t BigEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
std::uint32_t LittleEndian16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}

class WriteGuard {
  public:
    explicit WriteGuard(const StoreWriteHooks& hooks) : hooks_(hooks) {
        if (hooks_.beforeWrite != nullptr) {
            hooks_.beforeWrite(hooks_.context);
        }
    }
    ~WriteGuard() {
        if (hooks_.afterWrite != nullptr) {
            hooks_.afterWrite(hooks_.context);
        }
    }
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;

  private:
    const StoreWriteHooks& hooks_;
};

void ApplyLevelPacket(const std::uint8_t* d, std::uint32_t length, std::uint8_t* store,
                      const StoreWriteHooks& hooks) {
    if (length < kLevelDataOffset) {
        return;
    }
    const std::uint32_t count = BigEndian16(d + kLevelCountOffset);
    const std::uint64_t start = BigEndian32(d + kLevelStartOffset);
    if (count > kMaxLevelCount || start == 0 || start + count > kStoreSize + 1 ||
        length - kLevelDataOffset < count) {
        return;
    }
    WriteGuard guard(hooks);
    std::memcpy(store + (start - 1), d + kLevelDataOffset, count);
}

void ApplyBlockPacket(const std::uint8_t* d, std::uint32_t length, std::uint8_t* store,
                      const StoreWriteHooks& hooks) {
    if (length < kBlockDataArea) {
        return;
    }
    const std::uint8_t* const data = d + kBlockDataArea;
    const std::uint32_t dataLength = length - kBlockDataArea;
    for (int i = 0; i < kMaxBlocks; ++i) {
        const std::uint32_t start = LittleEndian16(d + kBlockStartOffset + 2 * i);
        const std::uint32_t offset = LittleEndian16(d + kBlockDataOffsetOffset + 2 * i);
        if (start == 0 || (i > 0 && offset == 0)) {
            return;
        }
        const std::uint32_t s = start - 1;
        const std::uint32_t n = LittleEndian16(d + kBlockCountOffset + 2 * i);
        if (s + n > kStoreSize) {
            continue;
        }
        const std::uint32_t end = LittleEndian16(d + kBlockDataOffsetOffset + 2 * (i + 1));
        const std::uint32_t encoded = (end - offset) & 0xFFFF;
        // Data outside the received bytes would be stale or foreign: skip the block.
        if (offset > dataLength || encoded > dataLength - offset) {
            continue;
        }
        WriteGuard guard(hooks);
        if (encoded == n) {
            std::memcpy(store + s, data + offset, n);
        } else {
            DecodeRunLength(data + offset, encoded, store + s, n, kStoreSize - s);
        }
    }
}

}  // namespace

void ApplyDatagram(const std::uint8_t* datagram, std::uint32_t length, std::uint8_t* store,
                   const StoreWriteHooks& hooks) {
    if (length < 2) {
        return;
    }
    switch (BigEndian16(datagram)) {
        case kLevelPacketKind:
            ApplyLevelPacket(datagram, length, store, hooks);
            break;
        case kBlockPacketKind:
            ApplyBlockPacket(datagram, length, store, hooks);
            break;
        default:
            break;
    }
}

}  // namespace lxd
