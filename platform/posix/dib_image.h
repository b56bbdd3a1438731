// Turns a DIB (info header, colour table or masks, pixel array) into an owned
// top-down RGBA image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/lxdravik_bitmap.h"

namespace lxd::platform {

// Null when the DIB is not one of 1, 4, 8, 16, 24 or 32 bits per pixel in
// BI_RGB or BI_BITFIELDS, or anything it describes passes the block.
LxdBitmap* ConvertDibToImage(const std::uint8_t* block, std::size_t blockSize,
                             std::size_t pixelOffset);
void FreeImage(LxdBitmap* image);

}  // namespace lxd::platform
