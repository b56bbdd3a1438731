// The two datagram formats and how one datagram is applied to the port store.
#pragma once

#include <cstdint>

namespace lxd {

inline constexpr int kReceiveBufferSize = 1316;  // the largest datagram handled

inline constexpr std::uint16_t kLevelPacketKind = 0x202F;
inline constexpr std::uint16_t kBlockPacketKind = 0x808F;

// Level packet: big-endian fields, levels from byte 66.
inline constexpr std::uint32_t kLevelCountOffset = 8;
inline constexpr std::uint32_t kLevelStartOffset = 12;
inline constexpr std::uint32_t kLevelDataOffset = 66;
inline constexpr std::uint32_t kMaxLevelCount = 1024;

// Block packet: little-endian block table, data area from byte 36.
inline constexpr int kMaxBlocks = 4;
inline constexpr std::uint32_t kBlockStartOffset = 6;
inline constexpr std::uint32_t kBlockCountOffset = 14;
inline constexpr std::uint32_t kBlockDataOffsetOffset = 22;
inline constexpr std::uint32_t kBlockDataArea = 36;

// Called with `context` around every write to the store; either may be null.
struct StoreWriteHooks {
    void* context;
    void (*beforeWrite)(void* context);
    void (*afterWrite)(void* context);
};

// Applies one received datagram of `length` bytes to the 18,432-byte store.
// Reads nothing outside the datagram and writes nothing outside the store.
void ApplyDatagram(const std::uint8_t* datagram, std::uint32_t length, std::uint8_t* store,
                   const StoreWriteHooks& hooks);

}  // namespace lxd
