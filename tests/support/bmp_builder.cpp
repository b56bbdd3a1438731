#include "tests/support/bmp_builder.h"

#include <climits>

#include <algorithm>
#include <fstream>

#include "protocol/pack.h"

namespace lxd::test {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.resize(out.size() + 2);
    WriteLittle16(out.data() + out.size() - 2, value);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.resize(out.size() + 4);
    WriteLittle32(out.data() + out.size() - 4, value);
}

void Append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

BmpBuilder::BmpBuilder(std::int32_t width, std::int32_t height, std::uint16_t bitCount)
    : width_(width), height_(height), bitCount_(bitCount) {}

BmpBuilder& BmpBuilder::Type(char first, char second) {
    type_[0] = first;
    type_[1] = second;
    return *this;
}
BmpBuilder& BmpBuilder::OffBits(std::uint32_t offBits) {
    offBits_ = offBits;
    return *this;
}
BmpBuilder& BmpBuilder::Compression(std::uint32_t compression) {
    compression_ = compression;
    return *this;
}
BmpBuilder& BmpBuilder::SizeImage(std::uint32_t sizeImage) {
    sizeImage_ = sizeImage;
    return *this;
}
BmpBuilder& BmpBuilder::ColoursUsed(std::uint32_t coloursUsed) {
    coloursUsed_ = coloursUsed;
    return *this;
}
BmpBuilder& BmpBuilder::Palette(std::vector<std::uint32_t> colours) {
    palette_ = std::move(colours);
    return *this;
}
BmpBuilder& BmpBuilder::Bitfields(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    masks_ = {red, green, blue};
    compression_ = kBiBitfields;
    return *this;
}
BmpBuilder& BmpBuilder::Gap(std::size_t bytes) {
    gap_ = bytes;
    return *this;
}
BmpBuilder& BmpBuilder::Row(std::vector<std::uint32_t> values) {
    if (width_ > 0 && values.size() < static_cast<std::size_t>(width_)) {
        values.resize(static_cast<std::size_t>(width_), 0);
    }
    rows_.push_back(PackRow(bitCount_, values));
    return *this;
}
BmpBuilder& BmpBuilder::RawPixels(std::vector<std::uint8_t> bytes) {
    rawPixels_ = std::move(bytes);
    return *this;
}
BmpBuilder& BmpBuilder::TruncateTo(std::size_t bytes) {
    truncateTo_ = bytes;
    return *this;
}

std::size_t BmpBuilder::RowBytes(std::int32_t width, std::uint16_t bitCount) {
    const std::uint64_t columns = width > 0 ? static_cast<std::uint64_t>(width) : 0;
    return static_cast<std::size_t>((columns * bitCount + 31) / 32 * 4);
}

std::vector<std::uint8_t> BmpBuilder::PackRow(std::uint16_t bitCount,
                                              const std::vector<std::uint32_t>& values) {
    std::vector<std::uint8_t> row(RowBytes(static_cast<std::int32_t>(values.size()), bitCount), 0);
    for (std::size_t x = 0; x < values.size(); ++x) {
        const std::uint32_t value = values[x];
        if (bitCount <= 8) {
            const std::size_t bit = x * bitCount;
            const unsigned shift = 8 - bitCount - bit % 8;
            row[bit / 8] |= static_cast<std::uint8_t>((value & ((1u << bitCount) - 1)) << shift);
        } else {
            const std::size_t bytes = bitCount / 8;
            for (std::size_t i = 0; i < bytes; ++i) {
                row[x * bytes + i] = static_cast<std::uint8_t>(value >> (8 * i));
            }
        }
    }
    return row;
}

std::vector<std::uint8_t> BmpBuilder::ColourTable() const {
    std::vector<std::uint32_t> colours;
    if (palette_) {
        colours = *palette_;
    } else if (bitCount_ <= 8) {
        const std::uint32_t implied = coloursUsed_ != 0 ? coloursUsed_ : 1u << bitCount_;
        colours.assign(std::min<std::uint32_t>(implied, 256), 0);
    }
    std::vector<std::uint8_t> table;
    for (std::uint32_t rgb : colours) {
        table.push_back(static_cast<std::uint8_t>(rgb));        // blue
        table.push_back(static_cast<std::uint8_t>(rgb >> 8));   // green
        table.push_back(static_cast<std::uint8_t>(rgb >> 16));  // red
        table.push_back(0);
    }
    return table;
}

std::vector<std::uint8_t> BmpBuilder::PixelArray() const {
    if (rawPixels_) {
        return *rawPixels_;
    }
    std::vector<std::uint8_t> pixels;
    for (const auto& row : rows_) {
        Append(pixels, row);
    }
    const std::uint64_t rows = height_ < 0 ? -std::int64_t{height_} : height_;
    if (rows_.size() < rows) {
        const std::uint64_t missing = rows - rows_.size();
        pixels.resize(pixels.size() + RowBytes(width_, bitCount_) * missing, 0);
    }
    return pixels;
}

std::vector<std::uint8_t> BmpBuilder::BuildDib() const {
    std::vector<std::uint8_t> dib;
    Put32(dib, kInfoHeaderBytes);  // biSize
    Put32(dib, static_cast<std::uint32_t>(width_));
    Put32(dib, static_cast<std::uint32_t>(height_));
    Put16(dib, 1);  // biPlanes
    Put16(dib, bitCount_);
    Put32(dib, compression_);
    Put32(dib, sizeImage_);
    Put32(dib, 2835);  // biXPelsPerMeter: 72 dpi
    Put32(dib, 2835);  // biYPelsPerMeter
    Put32(dib, coloursUsed_);
    Put32(dib, 0);  // biClrImportant
    for (std::uint32_t mask : masks_) {
        Put32(dib, mask);
    }
    Append(dib, ColourTable());
    dib.insert(dib.end(), gap_, 0xEE);
    Append(dib, PixelArray());
    return dib;
}

std::vector<std::uint8_t> BmpBuilder::Build() const {
    const std::vector<std::uint8_t> dib = BuildDib();
    const std::size_t pixelsAt = kFileHeaderBytes + dib.size() - PixelArray().size();
    std::vector<std::uint8_t> file;
    file.push_back(static_cast<std::uint8_t>(type_[0]));
    file.push_back(static_cast<std::uint8_t>(type_[1]));
    Put32(file, static_cast<std::uint32_t>(kFileHeaderBytes + dib.size()));  // bfSize
    Put16(file, 0);                                                          // bfReserved1
    Put16(file, 0);                                                          // bfReserved2
    Put32(file, offBits_.value_or(static_cast<std::uint32_t>(pixelsAt)));
    Append(file, dib);
    if (truncateTo_ && *truncateTo_ < file.size()) {
        file.resize(*truncateTo_);
    }
    return file;
}

bool BmpBuilder::WriteTo(const std::string& path) const {
    const std::vector<std::uint8_t> bytes = Build();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::vector<BrokenBmp> BrokenBmpFiles() {
    const BmpBuilder small24 = BmpBuilder(4, 4, 24);
    return {
        {"type MB", BmpBuilder(small24).Type('M', 'B')},
        {"type bm", BmpBuilder(small24).Type('b', 'm')},
        {"10 bytes", BmpBuilder(small24).TruncateTo(10)},
        {"14 bytes", BmpBuilder(small24).TruncateTo(14)},
        {"half an info header", BmpBuilder(small24).TruncateTo(14 + 20)},
        {"headers only", BmpBuilder(small24).TruncateTo(14 + 40)},
        {"pixel array one byte short", BmpBuilder(small24).TruncateTo(14 + 40 + 4 * 12 - 1)},
        {"last row missing its padding", BmpBuilder(3, 2, 24).TruncateTo(14 + 40 + 12 + 9)},
        {"colour table cut short", BmpBuilder(1, 1, 8).Palette({1, 2, 3}).RawPixels({0, 0, 0, 0})},
        {"masks cut short", BmpBuilder(1, 1, 32).Bitfields(1, 2, 4).TruncateTo(14 + 40 + 8)},
        {"masks present, pixels missing", BmpBuilder(1, 1, 16).Bitfields(1, 2, 4).RawPixels({})},
        {"257 palette entries", BmpBuilder(1, 1, 8).ColoursUsed(257)},
        {"biClrUsed 0xFFFFFFFF at 8 bits", BmpBuilder(1, 1, 8).ColoursUsed(0xFFFFFFFF)},
        // 4 x 0xFFFFFFFF wraps to -4 in 32 bits, which would put the pixels
        // inside the info header.
        {"biClrUsed 0xFFFFFFFF at 24 bits", BmpBuilder(1, 1, 24).ColoursUsed(0xFFFFFFFF)},
        {"biClrUsed 0x40000000 at 32 bits", BmpBuilder(1, 1, 32).ColoursUsed(0x40000000)},
        // 65,536 rows of 262,144 bytes is 2^34 bytes: 0 in 32 bits.
        {"2^34 pixel bytes", BmpBuilder(65536, 65536, 32).RawPixels({0, 0, 0, 0})},
        {"widest and tallest", BmpBuilder(0x7FFFFFFF, 0x7FFFFFFF, 32).RawPixels({0, 0, 0, 0})},
        {"tallest top-down", BmpBuilder(1, INT32_MIN, 24).RawPixels({0, 0, 0, 0})},
        {"width 0", BmpBuilder(0, 1, 24).RawPixels({0, 0, 0, 0})},
        {"width -1", BmpBuilder(-1, 1, 24).RawPixels({0, 0, 0, 0})},
        {"width INT32_MIN", BmpBuilder(INT32_MIN, 1, 24).RawPixels({0, 0, 0, 0})},
        {"height 0", BmpBuilder(1, 0, 24).RawPixels({0, 0, 0, 0})},
        {"bit count 2", BmpBuilder(4, 1, 2)},
        {"bit count 0", BmpBuilder(1, 1, 0).RawPixels({0, 0, 0, 0})},
        {"bit count 48", BmpBuilder(1, 1, 48)},
        {"RLE8 biSizeImage past the end",
         BmpBuilder(4, 2, 8).Compression(kBiRle8).SizeImage(7).RawPixels({4, 1, 0, 0, 0, 1})},
        {"RLE4 biSizeImage 0xFFFFFFFF",
         BmpBuilder(4, 2, 4).Compression(kBiRle4).SizeImage(0xFFFFFFFF).RawPixels({0, 1})},
        {"JPEG data", BmpBuilder(2, 2, 24).Compression(4).SizeImage(16)},
    };
}

}  // namespace lxd::test
