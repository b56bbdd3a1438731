// Writes BMP files field by field for tests and seed corpora: file header,
// info header, colour masks, colour table, pixel rows with their padding, an
// optional gap before the pixels, and truncation.
//
//   auto bytes = lxd::test::BmpBuilder(3, 2, 8)
//                    .Palette({0x00FF0000, 0x0000FF00})
//                    .Row({0, 1, 0})
//                    .Row({1, 1, 0})
//                    .Build();
//
// Whatever is not set is derived so that the file is well formed: bfSize is
// the file's real size, bfOffBits points at the pixels, biPlanes is 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lxd::test {

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;

inline constexpr std::size_t kFileHeaderBytes = 14;
inline constexpr std::size_t kInfoHeaderBytes = 40;

class BmpBuilder {
  public:
    BmpBuilder(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

    // File header.
    BmpBuilder& Type(char first, char second);
    BmpBuilder& OffBits(std::uint32_t offBits);

    // Info header fields other than width, height and bit count.
    BmpBuilder& Compression(std::uint32_t compression);
    BmpBuilder& SizeImage(std::uint32_t sizeImage);
    BmpBuilder& ColoursUsed(std::uint32_t coloursUsed);

    // Colour table entries as 0x00RRGGBB, written blue, green, red, 0. Without
    // this, 8 bits or less get the entries the header implies (biClrUsed, at
    // most 256, or 2 to the bit count), all black; more bits get none.
    BmpBuilder& Palette(std::vector<std::uint32_t> colours);
    // The three colour masks, written directly after the info header and
    // before any colour table, as GDI reads them; also sets BI_BITFIELDS.
    BmpBuilder& Bitfields(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
    // Bytes of filler (0xEE) between the masks or table and the pixels;
    // bfOffBits counts them unless OffBits() is set.
    BmpBuilder& Gap(std::size_t bytes);

    // Appends one pixel row in file order (the bottom row first when the
    // height is positive). Values are palette indexes for 8 bits or less,
    // otherwise the little-endian pixel value. Missing values up to the width
    // are 0; the row is padded to 4 bytes.
    BmpBuilder& Row(std::vector<std::uint32_t> values);
    // Replaces the whole pixel array with these bytes (compressed data, short
    // arrays). Otherwise rows not given are all zero, so the array is exactly
    // as long as the header describes.
    BmpBuilder& RawPixels(std::vector<std::uint8_t> bytes);

    // Keeps only the first `bytes` bytes of the file.
    BmpBuilder& TruncateTo(std::size_t bytes);

    // The whole file.
    std::vector<std::uint8_t> Build() const;
    // The file without its 14-byte file header: what a loader hands to the
    // bitmap creation.
    std::vector<std::uint8_t> BuildDib() const;
    // Writes Build() to `path`; false on failure.
    bool WriteTo(const std::string& path) const;

    // One row packed as in a BMP: most significant bits first for 8 bits or
    // less, little-endian otherwise, zero-padded to a multiple of 4 bytes.
    static std::vector<std::uint8_t> PackRow(std::uint16_t bitCount,
                                             const std::vector<std::uint32_t>& values);
    // Bytes per stored row for a width and bit count.
    static std::size_t RowBytes(std::int32_t width, std::uint16_t bitCount);

  private:
    std::vector<std::uint8_t> ColourTable() const;
    std::vector<std::uint8_t> PixelArray() const;

    char type_[2] = {'B', 'M'};
    std::optional<std::uint32_t> offBits_;
    std::int32_t width_;
    std::int32_t height_;
    std::uint16_t bitCount_;
    std::uint32_t compression_ = kBiRgb;
    std::uint32_t sizeImage_ = 0;
    std::uint32_t coloursUsed_ = 0;
    std::optional<std::vector<std::uint32_t>> palette_;
    std::vector<std::uint32_t> masks_;
    std::size_t gap_ = 0;
    std::vector<std::vector<std::uint8_t>> rows_;
    std::optional<std::vector<std::uint8_t>> rawPixels_;
    std::optional<std::size_t> truncateTo_;
};

// Files that no loader may turn into a bitmap: wrong type, cut short
// anywhere, sizes that wrap, dimensions and encodings that are refused.
struct BrokenBmp {
    const char* name;
    BmpBuilder file;
};
std::vector<BrokenBmp> BrokenBmpFiles();

}  // namespace lxd::test
