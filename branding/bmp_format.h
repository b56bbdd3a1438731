// The Windows bitmap file format: header sizes and values (its fields are
// little-endian: protocol/pack.h reads them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/pack.h"

namespace lxd {

inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kBmpInfoHeaderSize = 40;
inline constexpr std::uint32_t kBmpSignature = 0x4D42;  // "BM"

// Compression values of the info header.
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;

}  // namespace lxd
