// Byte order, in one place: 16- and 32-bit fields read from and written to
// bytes, big-endian (the datagram kind, the level packet's fields) and
// little-endian (the block table, bitmap headers). Each touches exactly the
// field's bytes at `p`: the caller has checked that they lie inside its
// buffer.
#pragma once

#include <cstdint>

namespace lxd {

constexpr std::uint32_t ReadBig16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 8 | p[1];
}
constexpr std::uint32_t ReadBig32(const std::uint8_t* p) {
    return ReadBig16(p) << 16 | ReadBig16(p + 2);
}
constexpr std::uint32_t ReadLittle16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}
constexpr std::uint32_t ReadLittle32(const std::uint8_t* p) {
    return ReadLittle16(p + 2) << 16 | ReadLittle16(p);
}

inline void WriteBig16(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}
inline void WriteBig32(std::uint8_t* p, std::uint32_t value) {
    WriteBig16(p, value >> 16);
    WriteBig16(p + 2, value);
}
inline void WriteLittle16(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void WriteLittle32(std::uint8_t* p, std::uint32_t value) {
    WriteLittle16(p, value);
    WriteLittle16(p + 2, value >> 16);
}

}  // namespace lxd
