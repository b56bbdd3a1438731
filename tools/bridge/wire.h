// Reading fixed-position fields of a received datagram. Callers check the
// length before reading.
#pragma once

#include <cstdint>

namespace lxd::bridge {

inline std::uint32_t Big16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t Big32(const std::uint8_t* p) {
    return Big16(p) << 16 | Big16(p + 2);
}
inline std::uint32_t Little16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}

}  // namespace lxd::bridge
