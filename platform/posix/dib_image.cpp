#include "platform/posix/dib_image.h"

#include <new>

#include "branding/bmp_format.h"

namespace lxd::platform {
namespace {

// Larger pictures are refused rather than risking a huge allocation.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
    explicit Channel(std::uint32_t mask) : mask_(mask) {
        if (mask_ == 0) {
            return;
        }
        while ((mask_ >> shift_ & 1) == 0) {
            ++shift_;
        }
        max_ = mask_ >> shift_;
    }
    std::uint8_t Of(std::uint32_t pixel) const {
        if (max_ == 0) {
            return 0;
        }
        return static_cast<std::uint8_t>(std::uint64_t{(pixel & mask_) >> shift_} * 255 / max_);
    }

  private:
    std::uint32_t mask_;
    std::uint32_t shift_ = 0;
    std::uint32_t max_ = 0;
};

struct Masks {
    Channel red, green, blue;
};

void PutPixel(std::uint8_t* to, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    to[0] = r;
    to[1] = g;
    to[2] = b;
    to[3] = 255;
}

}  // namespace

LxdBitmap* ConvertDibToImage(const std::uint8_t* block, std::size_t blockSize,
                             std::size_t pixelOffset) {
    BmpInfo info;
    if (!ReadBmpInfo(block, blockSize, info) || pixelOffset > blockSize) {
        return nullptr;
    }
    const auto [width, height, bits, compression, sizeImage, coloursUsed] = info;
    (void)sizeImage;
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        return nullptr;
    }
    const bool bitfields = compression == kBiBitfields && (bits == 16 || bits == 32);
    if (compression != kBiRgb && !bitfields) {
        return nullptr;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return nullptr;
    }
    const std::uint64_t columns = static_cast<std::uint32_t>(width);
    const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    const std::uint64_t rowBytes = (columns * bits + 31) / 32 * 4;
    if (columns * rows > kMaxPixels || rowBytes * rows > blockSize - pixelOffset) {
        return nullptr;
    }

    // Palette entries are blue, green, red, reserved; an index past the table is black.
    std::uint64_t paletteEntries = 0;
    if (bits <= 8) {
        paletteEntries = coloursUsed != 0 ? coloursUsed : std::uint64_t{1} << bits;
        if (kBmpInfoHeaderSize + 4 * paletteEntries > blockSize) {
            return nullptr;
        }
    }
    Masks masks{Channel(0x7C00), Channel(0x03E0), Channel(0x001F)};
    if (bits == 32) {
        masks = Masks{Channel(0x00FF0000), Channel(0x0000FF00), Channel(0x000000FF)};
    }
    if (bitfields) {
        if (kBmpInfoHeaderSize + 12 > blockSize) {
            return nullptr;
        }
        masks = Masks{Channel(ReadLittle32(block + 40)), Channel(ReadLittle32(block + 44)),
                      Channel(ReadLittle32(block + 48))};
    }

    auto* image = new (std::nothrow) LxdBitmap{width, static_cast<std::int32_t>(rows), nullptr};
    if (image == nullptr) {
        return nullptr;
    }
    image->pixels = new (std::nothrow) std::uint8_t[columns * rows * 4];
    if (image->pixels == nullptr) {
        delete image;
        return nullptr;
    }
    const std::uint8_t* palette = block + kBmpInfoHeaderSize;
    const std::uint32_t pixelMask = (1u << (bits < 32 ? bits : 0)) - 1;
    for (std::uint64_t y = 0; y < rows; ++y) {
        // Positive heights store the bottom row first.
        const std::uint64_t sourceRow = height > 0 ? rows - 1 - y : y;
        const std::uint8_t* row = block + pixelOffset + sourceRow * rowBytes;
        std::uint8_t* out = image->pixels + y * columns * 4;
        for (std::uint64_t x = 0; x < columns; ++x, out += 4) {
            if (bits <= 8) {
                const std::uint64_t bit = x * bits;
                const std::uint32_t index = row[bit / 8] >> (8 - bits - bit % 8) & pixelMask;
                if (index < paletteEntries) {
                    const std::uint8_t* entry = palette + 4 * index;
                    PutPixel(out, entry[2], entry[1], entry[0]);
                } else {
                    PutPixel(out, 0, 0, 0);
                }
            } else if (bits == 24) {
                const std::uint8_t* p = row + x * 3;
                PutPixel(out, p[2], p[1], p[0]);
            } else {
                const std::uint32_t value =
                    bits == 16 ? ReadLittle16(row + x * 2) : ReadLittle32(row + x * 4);
                PutPixel(out, masks.red.Of(value), masks.green.Of(value), masks.blue.Of(value));
            }
        }
    }
    return image;
}

void FreeImage(LxdBitmap* image) {
    if (image != nullptr) {
        delete[] image->pixels;
        delete image;
    }
}

}  // namespace lxd::platform
