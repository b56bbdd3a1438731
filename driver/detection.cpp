#include "driver/detection.h"

#include <cstring>

#include "driver/connection.h"
#include "driver/lxdravik.h"

namespace lxd {

void AppendDeviceEntry(std::uint16_t hostWord, void* list, const std::uint8_t* address,
                       const char* tag) {
    auto* bytes = static_cast<std::uint8_t*>(list);
    std::int32_t count;
    std::memcpy(&count, bytes, sizeof count);
    if (count < 0 || count >= kDetectionCapacity) {
        return;
    }
    std::uint8_t* const entries = bytes + kListHeaderSize;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t* ip = entries + i * kDeviceEntrySize + kEntryAddressOffset + 4;
        if (std::memcmp(ip, address + 4, 4) == 0) {
            return;
        }
    }
    std::uint8_t* entry = entries + count * kDeviceEntrySize;
    std::memcpy(entry, &hostWord, sizeof hostWord);
    std::memcpy(entry + kEntryNameOffset, kDeviceName, sizeof kDeviceName);
    std::memcpy(entry + kEntrySecondNameOffset, kDeviceName, sizeof kDeviceName);
    std::uint8_t* tagField = entry + kEntryTagOffset;
    std::memset(tagField, 0, kEntryTagSize);
    std::strncpy(reinterpret_cast<char*>(tagField), tag, kEntryTagSize - 1);
    std::memcpy(entry + kEntryAddressOffset, address, kSocketAddressSize);
    ++count;
    std::memcpy(bytes, &count, sizeof count);
    // The host reads the tag field as empty text: its first byte is zero.
    tagField[0] = 0;
}

}  // namespace lxd

extern "C" {

int32_t LXD_CALL StartDetect(void) {
    return 0;
}

int32_t LXD_CALL ContinueDetect(uint16_t hostWord, void* list) {
    if (list == nullptr) {
        return 1;
    }
    // sockaddr_in for 127.0.0.1:2501, written byte by byte in its wire layout:
    // family 2 (little-endian), port and address in network order.
    const std::uint8_t address[lxd::kSocketAddressSize] = {
        2, 0, lxd::kIntakePort >> 8, lxd::kIntakePort & 0xFF, 127, 0, 0, 1};
    lxd::AppendDeviceEntry(hostWord, list, address, lxd::kDriverTag);
    return 1;
}

}  // extern "C"
