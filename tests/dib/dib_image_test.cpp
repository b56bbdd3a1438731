// The Linux bitmap conversion: known small DIBs decode to known RGBA pixels,
// top row first; malformed DIBs give null.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/posix/dib_image.h"
#include "tests/support/bmp_builder.h"

namespace lxd::platform {
namespace {

using test::BmpBuilder;

struct FreeImageDeleter {
    void operator()(LxdBitmap* image) const { FreeImage(image); }
};
using Image = std::unique_ptr<LxdBitmap, FreeImageDeleter>;

Image Convert(const std::vector<std::uint8_t>& dib, std::size_t pixelOffset) {
    return Image(ConvertDibToImage(dib.data(), dib.size(), pixelOffset));
}

// An image's pixels as 0x00RRGGBB, top row first; alpha must be opaque.
std::vector<std::uint32_t> Rgb(const LxdBitmap& image) {
    std::vector<std::uint32_t> rgb;
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = image.pixels + 4 * i;
        EXPECT_EQ(p[3], 255) << "pixel " << i;
        rgb.push_back(std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]);
    }
    return rgb;
}

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;
constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0;

struct Known {
    const char* name;
    BmpBuilder dib;
    std::size_t pixelOffset;
    std::int32_t width, height;
    std::vector<std::uint32_t> rgb;  // top row first
};

std::vector<Known> KnownImages() {
    const std::uint32_t a = 0x102030, b = 0xA0B0C0;
    std::vector<std::uint32_t> ramp(20);
    for (std::uint32_t i = 0; i < 20; ++i) {
        ramp[i] = (i * 10) << 16 | (i * 5) << 8 | (255 - i);
    }
    std::vector<std::uint32_t> fullTable(256, kWhite);
    fullTable[254] = a;
    fullTable[255] = b;
    return {
        // 10 pixels need 2 bytes per row, padded to 4; the bottom row comes first.
        {"1-bit bottom-up",
         BmpBuilder(10, 2, 1)
             .Palette({a, b})
             .Row({1, 0, 0, 1, 1, 0, 1, 0, 1, 1})
             .Row({0, 1, 1, 1, 0, 0, 0, 0, 0, 1}),
         40 + 8,
         10,
         2,
         {a, b, b, b, a, a, a, a, a, b,  //
          b, a, a, b, b, a, b, a, b, b}},
        // Three entries in the table: index 5 lies past it and shows black.
        {"4-bit top-down, index past the table",
         BmpBuilder(3, -2, 4)
             .ColoursUsed(3)
             .Palette({kRed, kGreen, kBlue})
             .Row({0, 1, 5})
             .Row({2, 2, 0}),
         40 + 12,
         3,
         2,
         {kRed, kGreen, kBlack, kBlue, kBlue, kRed}},
        {"8-bit, 20 entries, 5-byte rows",
         BmpBuilder(5, 2, 8)
             .ColoursUsed(20)
             .Palette(ramp)
             .Row({0, 19, 7, 3, 12})
             .Row({20, 255, 1, 2, 3}),
         40 + 80,
         5,
         2,
         {kBlack, kBlack, ramp[1], ramp[2], ramp[3],  //
          ramp[0], ramp[19], ramp[7], ramp[3], ramp[12]}},
        {"8-bit, full table",
         BmpBuilder(2, 1, 8).Palette(fullTable).Row({254, 255}),
         40 + 1024,
         2,
         1,
         {a, b}},
        // 5-6-5 masks; 6-byte rows padded to 8.
        {"16-bit bitfields 5-6-5",
         BmpBuilder(3, 2, 16)
             .Bitfields(0xF800, 0x07E0, 0x001F)
             .Row({0xF800, 0x07E0, 0x001F})
             .Row({0xFFFF, 0x0000, 0x8410}),
         40 + 12,
         3,
         2,
         {kWhite, kBlack, 0x838183, kRed, kGreen, kBlue}},
        {"16-bit bitfields 4-4-4",
         BmpBuilder(2, 1, 16).Bitfields(0x0F00, 0x00F0, 0x000F).Row({0x0F00, 0xF080}),
         40 + 12,
         2,
         1,
         {kRed, 0x008800}},
        // No masks: 5-5-5 with the top bit unused.
        {"16-bit default 5-5-5",
         BmpBuilder(4, 1, 16).Row({0x7C00, 0x03E0, 0x801F, 0x4210}),
         40,
         4,
         1,
         {kRed, kGreen, kBlue, 0x838383}},
        // 9-byte rows padded to 12.
        {"24-bit bottom-up",
         BmpBuilder(3, 2, 24).Row({0x112233, 0x445566, 0x778899}).Row({kRed, kGreen, kBlue}),
         40,
         3,
         2,
         {kRed, kGreen, kBlue, 0x112233, 0x445566, 0x778899}},
        {"24-bit top-down", BmpBuilder(1, -3, 24).Row({1}).Row({2}).Row({3}), 40, 1, 3, {1, 2, 3}},
        // No masks: 8-8-8 with the top byte unused.
        {"32-bit default 8-8-8",
         BmpBuilder(2, 1, 32).Row({0xFF112233, 0x00445566}),
         40,
         2,
         1,
         {0x112233, 0x445566}},
        {"32-bit bitfields, blue and red swapped",
         BmpBuilder(1, 1, 32).Bitfields(0xFF, 0xFF00, 0xFF0000).Row({0x00332211}),
         40 + 12,
         1,
         1,
         {0x112233}},
        // The masks lie directly after the info header, the table after them.
        {"32-bit bitfields and a table",
         BmpBuilder(1, 1, 32)
             .Bitfields(0xFF, 0xFF00, 0xFF0000)
             .ColoursUsed(2)
             .Palette({0xFFFFFF, 0xFFFFFF})
             .Row({0x00332211}),
         40 + 12 + 8,
         1,
         1,
         {0x112233}},
    };
}

TEST(DibImage, KnownImagesDecodeTopRowFirst) {
    for (const Known& known : KnownImages()) {
        SCOPED_TRACE(known.name);
        const Image image = Convert(known.dib.BuildDib(), known.pixelOffset);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->width, known.width);
        EXPECT_EQ(image->height, known.height);
        EXPECT_EQ(Rgb(*image), known.rgb);
    }
}

TEST(DibImage, PixelsAreReadAtTheOffsetGiven) {
    // A gap of one row's worth: the pixels handed over are the gap's bytes.
    const std::vector<std::uint8_t> dib = BmpBuilder(1, 1, 24).Gap(4).Row({kRed}).BuildDib();
    const Image atGap = Convert(dib, 40);
    const Image atRow = Convert(dib, 44);
    ASSERT_NE(atGap, nullptr);
    ASSERT_NE(atRow, nullptr);
    EXPECT_EQ(Rgb(*atGap), std::vector<std::uint32_t>{0xEEEEEE});
    EXPECT_EQ(Rgb(*atRow), std::vector<std::uint32_t>{kRed});
}

struct Malformed {
    const char* name;
    std::vector<std::uint8_t> dib;
    std::size_t pixelOffset;
};

std::vector<Malformed> MalformedDibs() {
    std::vector<std::uint8_t> headerOnly = BmpBuilder(1, 1, 24).BuildDib();
    headerOnly.resize(39);
    std::vector<std::uint8_t> short24 = BmpBuilder(3, 2, 24).BuildDib();
    short24.pop_back();
    const std::vector<std::uint8_t> four = {0, 0, 0, 0};
    return {
        {"39 bytes", headerOnly, 0},
        {"offset past the block", BmpBuilder(1, 1, 24).BuildDib(), 45},
        {"pixel array one byte short", short24, 40},
        {"width 0", BmpBuilder(0, 1, 24).RawPixels(four).BuildDib(), 40},
        {"width -1", BmpBuilder(-1, 1, 24).RawPixels(four).BuildDib(), 40},
        {"height 0", BmpBuilder(1, 0, 24).RawPixels(four).BuildDib(), 40},
        {"height INT32_MIN", BmpBuilder(1, INT32_MIN, 24).RawPixels(four).BuildDib(), 40},
        {"bit count 2", BmpBuilder(4, 1, 2).Palette({}).BuildDib(), 40},
        {"bit count 0", BmpBuilder(1, 1, 0).Palette({}).RawPixels(four).BuildDib(), 40},
        {"RLE8", BmpBuilder(4, 1, 8).Compression(test::kBiRle8).BuildDib(), 40 + 1024},
        {"bitfields at 24 bits", BmpBuilder(1, 1, 24).Bitfields(1, 2, 4).BuildDib(), 52},
        {"bitfields at 8 bits", BmpBuilder(1, 1, 8).Bitfields(1, 2, 4).BuildDib(), 52 + 1024},
        {"masks past the block", BmpBuilder(1, 1, 16).Compression(test::kBiBitfields).BuildDib(),
         40},
        {"table past the block", BmpBuilder(1, 1, 8).Palette({kRed}).BuildDib(), 44},
        {"huge width x height", BmpBuilder(0x7FFFFFFF, 0x7FFFFFFF, 32).RawPixels(four).BuildDib(),
         40},
        // 2^34 pixel bytes: 0 if reckoned in 32 bits.
        {"2^34 pixel bytes", BmpBuilder(65536, 65536, 32).RawPixels(four).BuildDib(), 40},
        // Small in bytes, but 2^27 pixels: refused before a 512 MB image.
        {"2^27 one-bit pixels", BmpBuilder(8192, 16384, 1).Palette({0, 1}).BuildDib(), 48},
    };
}

TEST(DibImage, MalformedDibsGiveNull) {
    for (const Malformed& bad : MalformedDibs()) {
        SCOPED_TRACE(bad.name);
        EXPECT_EQ(Convert(bad.dib, bad.pixelOffset), nullptr);
    }
}

}  // namespace
}  // namespace lxd::platform
