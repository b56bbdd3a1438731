#include "branding/bmp_loader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/test_support.h"

namespace lxd {
namespace {

using fake::Call;
using test::BmpBuilder;

// The loader over the recording platform's blocks and bitmaps.
constexpr BitmapFactory kFakeBitmaps{&platform::AllocateBlock, &platform::FreeBlock,
                                     &platform::CreateBitmapFromDib};

class BmpLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        dir_ = test::MakeTempDirectory();
        path_ = (std::filesystem::path(dir_) / "picture.bmp").string();
    }
    void TearDown() override {
        fake::Reset();
        std::filesystem::remove_all(dir_);
    }

    void* Load(const BmpBuilder& file) {
        EXPECT_TRUE(file.WriteTo(path_));
        return LoadBitmapFile(path_.c_str(), kFakeBitmaps);
    }

    std::string dir_;
    std::string path_;
};

struct GoodFile {
    const char* name;
    BmpBuilder file;
    std::size_t pixelOffset;  // into the block after the 14-byte file header
};

// Each file's pixel array follows its colour table and masks directly, at the
// offset given, whatever bfOffBits says.
std::vector<GoodFile> GoodFiles() {
    std::vector<std::uint32_t> grey16(16, 0x00808080);
    return {
        {"1-bit", BmpBuilder(9, 2, 1).Palette({0, 0xFFFFFF}).Row({1, 0, 1}).Row({0, 1}), 40 + 8},
        {"4-bit", BmpBuilder(3, 1, 4).Palette(grey16).Row({15, 1, 7}), 40 + 64},
        {"8-bit, 256 entries", BmpBuilder(5, 2, 8).Row({1, 2, 3, 4, 5}).Row({9}), 40 + 1024},
        {"8-bit, 20 entries", BmpBuilder(2, 2, 8).ColoursUsed(20).Row({19, 0}).Row({0, 19}),
         40 + 80},
        {"24-bit", BmpBuilder(3, 2, 24).Row({0x112233}).Row({0x445566}), 40},
        {"24-bit top-down", BmpBuilder(1, -3, 24).Row({1}).Row({2}).Row({3}), 40},
        {"16-bit bitfields", BmpBuilder(3, 1, 16).Bitfields(0xF800, 0x07E0, 0x1F).Row({0xF800}),
         40 + 12},
        {"32-bit bitfields", BmpBuilder(2, 2, 32).Bitfields(0xFF0000, 0xFF00, 0xFF).Row({7, 8}),
         40 + 12},
        {"16-bit bitfields with 2 entries",
         BmpBuilder(1, 1, 16).Bitfields(0xF800, 0x07E0, 0x1F).Palette({1, 2}).ColoursUsed(2),
         40 + 12 + 8},
        {"32-bit, 3 entries", BmpBuilder(1, 1, 32).Palette({1, 2, 3}).ColoursUsed(3), 40 + 12},
        {"24-bit, gap before pixels", BmpBuilder(2, 2, 24).Gap(100).Row({0xABCDEF}), 40},
        {"8-bit, bfOffBits 0", BmpBuilder(1, 1, 8).OffBits(0), 40 + 1024},
        {"RLE8, sized by biSizeImage",
         BmpBuilder(4, 2, 8).Compression(test::kBiRle8).SizeImage(6).RawPixels({4, 1, 0, 0, 0, 1}),
         40 + 1024},
    };
}

TEST_F(BmpLoaderTest, HandsTheWholeBlockAndThePixelOffsetToThePlatform) {
    for (const GoodFile& good : GoodFiles()) {
        SCOPED_TRACE(good.name);
        fake::Reset();
        void* bitmap = Load(good.file);
        ASSERT_NE(bitmap, nullptr);
        const fake::FakePlatform& fake = fake::Platform();
        EXPECT_EQ(fake.lastPixelOffset, good.pixelOffset);
        EXPECT_EQ(fake.lastDib, good.file.BuildDib());
        EXPECT_EQ(fake.liveBitmaps, std::vector<const void*>{bitmap});
        EXPECT_EQ(fake.Count(Call::kAllocateBlock), 1u);
        EXPECT_EQ(fake.Count(Call::kFreeBlock), 1u);
    }
}

TEST_F(BmpLoaderTest, PixelsAreTakenAfterTheTableEvenWhenBfOffBitsPointsElsewhere) {
    const BmpBuilder file = BmpBuilder(2, 1, 24).Gap(16).Row({0x010203, 0x040506});
    ASSERT_NE(Load(file), nullptr);
    const std::vector<std::uint8_t>& dib = fake::Platform().lastDib;
    ASSERT_EQ(fake::Platform().lastPixelOffset, 40u);
    // The gap's filler, not the row, is what lies at the pixel offset.
    EXPECT_EQ(dib[40], 0xEE);
    EXPECT_EQ(dib[40 + 16], 0x03);
}

TEST_F(BmpLoaderTest, BrokenFilesGiveNullCreateNothingAndFreeTheBlock) {
    for (const test::BrokenBmp& broken : test::BrokenBmpFiles()) {
        SCOPED_TRACE(broken.name);
        fake::Reset();
        EXPECT_EQ(Load(broken.file), nullptr);
        const fake::FakePlatform& fake = fake::Platform();
        EXPECT_EQ(fake.Count(Call::kCreateBitmap), 0u);
        EXPECT_EQ(fake.Count(Call::kFreeBlock), fake.Count(Call::kAllocateBlock));
    }
}

TEST_F(BmpLoaderTest, MissingFileAndEmptyFileGiveNull) {
    EXPECT_EQ(
        LoadBitmapFile((std::filesystem::path(dir_) / "absent.bmp").string().c_str(), kFakeBitmaps),
        nullptr);
    EXPECT_EQ(LoadBitmapFile(dir_.c_str(), kFakeBitmaps), nullptr);  // a directory
    EXPECT_EQ(Load(BmpBuilder(1, 1, 24).TruncateTo(0)), nullptr);
    EXPECT_EQ(fake::Platform().Count(Call::kAllocateBlock), 0u);
    EXPECT_EQ(fake::Platform().Count(Call::kCreateBitmap), 0u);
}

TEST_F(BmpLoaderTest, RefusedCreationStillFreesTheBlock) {
    fake::Platform().failCreateBitmap = true;
    EXPECT_EQ(Load(BmpBuilder(2, 2, 24)), nullptr);
    EXPECT_EQ(fake::Platform().Count(Call::kCreateBitmap), 1u);
    EXPECT_EQ(fake::Platform().Count(Call::kAllocateBlock), 1u);
    EXPECT_EQ(fake::Platform().Count(Call::kFreeBlock), 1u);
}

TEST_F(BmpLoaderTest, RefusedAllocationCreatesNothing) {
    fake::Platform().failAllocate = true;
    EXPECT_EQ(Load(BmpBuilder(2, 2, 24)), nullptr);
    EXPECT_EQ(fake::Platform().Count(Call::kCreateBitmap), 0u);
}

}  // namespace
}  // namespace lxd
