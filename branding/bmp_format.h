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

// The fields of the 40-byte info header that the readers use.
struct BmpInfo {
    std::int32_t width;   // > 0 in a valid bitmap
    std::int32_t height;  // negative: the top row first
    std::uint32_t bits;   // per pixel
    std::uint32_t compression;
    std::uint32_t sizeImage;
    std::uint32_t coloursUsed;
};

// Reads the info header at the start of a packed bitmap (`size` bytes);
// false when it is too short to hold one.
inline bool ReadBmpInfo(const std::uint8_t* block, std::size_t size, BmpInfo& info) {
    if (size < kBmpInfoHeaderSize) {
        return false;
    }
    info.width = static_cast<std::int32_t>(ReadLittle32(block + 4));
    info.height = static_cast<std::int32_t>(ReadLittle32(block + 8));
    info.bits = ReadLittle16(block + 14);
    info.compression = ReadLittle32(block + 16);
    info.sizeImage = ReadLittle32(block + 20);
    info.coloursUsed = ReadLittle32(block + 32);
    return true;
}

}  // namespace lxd
