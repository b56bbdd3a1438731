#include "host/device_entry.h"

#include <algorithm>
#include <cstring>

namespace lxd::host {

std::vector<std::uint8_t> DeviceEntry(const char* name, std::uint8_t filler) {
    std::vector<std::uint8_t> entry(kDeviceEntrySize, filler);
    const std::size_t room = kEntrySecondNameOffset - kEntryNameOffset;
    const std::size_t length = std::min(std::strlen(name) + 1, room);
    std::memcpy(entry.data() + kEntryNameOffset, name, length);
    return entry;
}

}  // namespace lxd::host
