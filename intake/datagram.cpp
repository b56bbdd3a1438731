#include "intake/datagram.h"

#include <cstring>

#include "protocol/pack.h"
#include "protocol/run_length.h"

namespace lxd {
namespace {

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
    const std::uint32_t count = ReadBig16(d + kLevelCountOffset);
    const std::uint64_t start = ReadBig32(d + kLevelStartOffset);
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
        const std::uint32_t start = ReadLittle16(d + kBlockStartOffset + 2 * i);
        const std::uint32_t offset = ReadLittle16(d + kBlockDataOffsetOffset + 2 * i);
        if (start == 0 || (i > 0 && offset == 0)) {
            return;
        }
        const std::uint32_t s = start - 1;
        const std::uint32_t n = ReadLittle16(d + kBlockCountOffset + 2 * i);
        if (s + n > kStoreSize) {
            continue;
        }
        const std::uint32_t end = ReadLittle16(d + kBlockDataOffsetOffset + 2 * (i + 1));
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
    switch (ReadBig16(datagram)) {
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
