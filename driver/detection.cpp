#include "driver/detection.h"

#include <cstring>

#include "protocol/pack.h"

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

void AppendOwnDevice(std::uint16_t hostWord, void* list) {
    // sockaddr_in for 127.0.0.1 and the intake port, written byte by byte in its wire layout:
    // family 2 (little-endian), port and address in network order.
    std::uint8_t address[kSocketAddressSize] = {2, 0, 0, 0, 127, 0, 0, 1};
    WriteBig16(address + 2, kIntakePort);
    AppendDeviceEntry(hostWord, list, address, kDriverTag);
}

}  // namespace lxd
