// The host's side of detection: an empty detection list and a device entry
// that names a device, laid out as the driver reads them.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/device.h"

namespace lxd::host {

// A detection list with no entries and room for 32.
inline std::vector<std::uint8_t> EmptyDetectionList() {
    return std::vector<std::uint8_t>(kDetectionListSize, 0);
}

// A device entry whose name field holds `name` (zero-terminated); every other
// byte is `filler`.
std::vector<std::uint8_t> DeviceEntry(const char* name = kDeviceName, std::uint8_t filler = 0);

}  // namespace lxd::host
