// The port store: 36 ports x 512 channels of 8-bit levels, one static block.
#pragma once

#include <cstdint>

namespace lxd {

inline constexpr int kNumPorts = 36;
inline constexpr int kChannelsPerPort = 512;
inline constexpr std::uint32_t kStoreSize = kNumPorts * kChannelsPerPort;  // 18,432 bytes

// The store's bytes; channel k of port p is byte p * 512 + k.
std::uint8_t* PortStore();
// 512 while a connection is open, 0 otherwise.
std::int32_t ChannelsPerPort();
void SetChannelsPerPort(std::int32_t channels);
// Sets every level to 0.
void ClearPortStore();

}  // namespace lxd
