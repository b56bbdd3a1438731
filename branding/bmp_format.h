// The Windows bitmap file format: header sizes and little-endian field reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd {

inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kBmpInfoHeaderSize = 40;
inline constexpr std::uint32_t kBmpSignature = 0x4D42;  // "BM"

// Compression values of the info header.
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;

inline std::uint32_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Read32(const std::uint8_t* p) {
    return Read16(p) | Read16(p + 2) << 16;
}

}  // namespace lxd
