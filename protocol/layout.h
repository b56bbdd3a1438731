// The wire format's numbers: the port store's shape, the driver's UDP port and
// the byte layout of the two datagram kinds.
#pragma once

#include <cstdint>

namespace lxd {

// The port store: 36 ports x 512 channels of 8-bit levels in one block.
inline constexpr int kNumPorts = 36;
inline constexpr int kChannelsPerPort = 512;
inline constexpr std::uint32_t kStoreSize = kNumPorts * kChannelsPerPort;  // 18,432 bytes

// The UDP port on which the driver receives datagrams.
inline constexpr std::uint16_t kIntakePort = 2501;

inline constexpr int kLargestDatagram = 1316;  // the largest datagram handled

// Both kinds start with a big-endian 16-bit kind.
inline constexpr std::uint16_t kLevelPacketKind = 0x202F;
inline constexpr std::uint16_t kBlockPacketKind = 0x808F;

// Level packet: big-endian fields, levels from byte 66.
inline constexpr std::uint32_t kLevelCountOffset = 8;
inline constexpr std::uint32_t kLevelStartOffset = 12;
inline constexpr std::uint32_t kLevelDataOffset = 66;
inline constexpr std::uint32_t kMaxLevelCount = 1024;

// Block packet: little-endian block table of four starts, four counts and
// five data offsets, then the data area from byte 36.
inline constexpr int kMaxBlocks = 4;
inline constexpr std::uint32_t kBlockStartOffset = 6;
inline constexpr std::uint32_t kBlockCountOffset = 14;
inline constexpr std::uint32_t kBlockDataOffsetOffset = 22;
inline constexpr std::uint32_t kBlockDataArea = 36;
// The data area's room in the largest datagram: 1,280 bytes.
inline constexpr std::uint32_t kBlockDataRoom = kLargestDatagram - kBlockDataArea;

}  // namespace lxd
