// The port store's shape: 36 ports x 512 channels of 8-bit levels in one block.
#pragma once

#include <cstdint>

namespace lxd {

inline constexpr int kNumPorts = 36;
inline constexpr int kChannelsPerPort = 512;
inline constexpr std::uint32_t kStoreSize = kNumPorts * kChannelsPerPort;  // 18,432 bytes

}  // namespace lxd
