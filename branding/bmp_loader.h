// Reads a BMP file into a bitmap made by the caller's bitmap factory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "branding/bmp_format.h"

namespace lxd {

// How the loader gets memory for the file and turns a checked DIB into a
// bitmap: the platform's fixed memory blocks and bitmap creation.
struct BitmapFactory {
    void* (*allocateBlock)(std::size_t bytes);
    void (*freeBlock)(void* block);
    // The info header at the block's start, its colour table directly after,
    // the pixel array at `pixelOffset`. Returns a bitmap handle or null.
    void* (*createBitmap)(const std::uint8_t* block, std::size_t blockSize,
                          std::size_t pixelOffset);
};

// Checks the DIB in `block` (everything after the file header) and finds where
// its pixel array begins: directly after the colour table or the colour masks.
// False when the header is unusable or anything it describes passes the block.
bool LocateDibPixels(const std::uint8_t* block, std::size_t blockSize, std::size_t* pixelOffset);

// Loads the BMP file at `path` as a bitmap; null on any failure.
void* LoadBitmapFile(const char* path, const BitmapFactory& factory);

}  // namespace lxd
