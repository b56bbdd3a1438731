// The driver's one device as the host sees it: its name and the byte layout
// of the host's detection list. Shared by the driver, the host-side library
// and the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/layout.h"

namespace lxd {

// The device name that detection writes and Connect accepts.
inline constexpr char kDeviceName[] = "Dravik Valtrix";
// Written into the entry's tag field (which the host reads as empty text).
inline constexpr char kDriverTag[] = "LxDravik";

// The host's byte-packed detection list: a 32-bit count, then the entries.
inline constexpr int kDetectionCapacity = 32;
inline constexpr std::size_t kListHeaderSize = 4;
inline constexpr std::size_t kDeviceEntrySize = 358;
inline constexpr std::size_t kDetectionListSize =
    kListHeaderSize + kDetectionCapacity * kDeviceEntrySize;  // 11,460 bytes

// One device entry: a 16-bit host word, two 33-byte names, a 33-byte tag and
// a 16-byte IPv4 socket address.
inline constexpr std::size_t kEntryNameOffset = 2;
inline constexpr std::size_t kEntrySecondNameOffset = 35;
inline constexpr std::size_t kEntryTagOffset = 68;
inline constexpr std::size_t kEntryTagSize = 33;
inline constexpr std::size_t kEntryAddressOffset = 101;
inline constexpr std::size_t kSocketAddressSize = 16;

}  // namespace lxd
