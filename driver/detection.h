// Detection: the driver's one device entry in the host's detection list.
#pragma once

#include <cstdint>

namespace lxd {

// Layout of the host's byte-packed detection list and device entry.
inline constexpr int kDetectionCapacity = 32;
inline constexpr std::size_t kListHeaderSize = 4;
inline constexpr std::size_t kDeviceEntrySize = 358;
inline constexpr std::size_t kDetectionListSize =
    kListHeaderSize + kDetectionCapacity * kDeviceEntrySize;  // 11,460 bytes
inline constexpr std::size_t kEntryNameOffset = 2;
inline constexpr std::size_t kEntrySecondNameOffset = 35;
inline constexpr std::size_t kEntryTagOffset = 68;
inline constexpr std::size_t kEntryTagSize = 33;
inline constexpr std::size_t kEntryAddressOffset = 101;
inline constexpr std::size_t kSocketAddressSize = 16;

inline constexpr char kDriverTag[] = "LxDravik";

// Appends an entry for `address` (a 16-byte IPv4 socket address) unless the
// list is full, its count is negative, or an entry in use has the same IPv4
// address.
void AppendDeviceEntry(std::uint16_t hostWord, void* list, const std::uint8_t* address,
                       const char* tag);

}  // namespace lxd
