// The bitmap loader's checks and the DIB to RGBA conversion on arbitrary file
// bytes: everything after the 14-byte file header goes into an exact-size
// heap block, as the loader reads it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "branding/bmp_loader.h"
#include "fuzz/fuzz_inputs.h"
#include "platform/posix/dib_image.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_bmp: %s\n", what);
    std::abort();
}

// Reads every pixel of a converted image, so that ASan checks its size.
void CheckImage(LxdBitmap* image) {
    if (image == nullptr) {
        return;
    }
    if (image->width <= 0 || image->height <= 0 || image->pixels == nullptr) {
        Fail("converted image has no size");
    }
    const std::size_t bytes = std::size_t{static_cast<std::uint32_t>(image->width)} *
                              static_cast<std::uint32_t>(image->height) * 4;
    unsigned alpha = 0;
    for (std::size_t i = 3; i < bytes; i += 4) {
        alpha |= image->pixels[i] ^ 0xFFu;
    }
    if (alpha != 0) {
        Fail("a converted pixel is not opaque");
    }
    lxd::platform::FreeImage(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < lxd::kBmpFileHeaderSize) {
        return 0;
    }
    const std::size_t blockSize = size - lxd::kBmpFileHeaderSize;
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[blockSize]);
    std::memcpy(block.get(), data + lxd::kBmpFileHeaderSize, blockSize);

    std::size_t pixelOffset = 0;
    if (lxd::LocateDibPixels(block.get(), blockSize, &pixelOffset)) {
        if (pixelOffset < lxd::kBmpInfoHeaderSize || pixelOffset > blockSize) {
            Fail("pixel offset outside the block");
        }
        CheckImage(lxd::platform::ConvertDibToImage(block.get(), blockSize, pixelOffset));
    }
    // The conversion guards itself too: any offset the file header names.
    const std::size_t anyOffset = lxd::ReadLittle32(data + 10) % (blockSize + 2);
    CheckImage(lxd::platform::ConvertDibToImage(block.get(), blockSize, anyOffset));
    return 0;
}
