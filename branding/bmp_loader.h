// Reads a BMP file into a platform bitmap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd {

inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kBmpInfoHeaderSize = 40;

// Checks the DIB in `block` (everything after the file header) and finds where
// its pixel array begins: directly after the colour table or the colour masks.
// False when the header is unusable or anything it describes passes the block.
bool LocateDibPixels(const std::uint8_t* block, std::size_t blockSize, std::size_t* pixelOffset);

// Loads the BMP file at `path` as a platform bitmap; null on any failure.
void* LoadBitmapFile(const char* path);

}  // namespace lxd
