// Branding against the built driver: bitmap files at the fixed paths become
// real bitmaps (GDI bitmaps on Windows, RGBA images elsewhere).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include "driver/lxdravik_bitmap.h"
#endif

#include "host/driver_library.h"
#include "tests/support/bmp_builder.h"

namespace lxd::host {
namespace {

namespace fs = std::filesystem;
using test::BmpBuilder;

#if defined(_WIN32)
const fs::path kFolder = "C:\\Program Files\\Dravik Lighting\\Vistane";
#else
const fs::path kFolder = "/opt/dravik-lighting/vistane";
#endif

constexpr std::uint32_t kMagenta = 0x00FF00FF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;

std::optional<std::vector<char>> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Puts test files at the driver's fixed paths, and on destruction leaves the
// folder as it was: files that were there come back, folders made go again.
class BrandingFolder {
  public:
    BrandingFolder() {
        for (fs::path p = kFolder; !p.empty() && !fs::exists(p); p = p.parent_path()) {
            made_.push_back(p);
        }
        std::error_code error;
        fs::create_directories(kFolder, error);
        writable_ = !error && std::ofstream(kFolder / ".lxdravik-probe").good();
        fs::remove(kFolder / ".lxdravik-probe", error);
        for (const char* name : kNames) {
            saved_.push_back(ReadFile(kFolder / name));
        }
    }
    ~BrandingFolder() {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            const fs::path path = kFolder / kNames[i];
            if (saved_[i]) {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(saved_[i]->data(), static_cast<std::streamsize>(saved_[i]->size()));
            } else {
                std::error_code ignored;
                fs::remove(path, ignored);
            }
        }
        for (const fs::path& dir : made_) {  // innermost first
            std::error_code ignored;
            fs::remove(dir, ignored);
        }
    }
    BrandingFolder(const BrandingFolder&) = delete;
    BrandingFolder& operator=(const BrandingFolder&) = delete;

    // False where this user may not write the driver's folder (not root).
    bool Writable() const { return writable_; }
    static fs::path Welcome() { return kFolder / kNames[0]; }
    static fs::path ModeBar() { return kFolder / kNames[1]; }

  private:
    static constexpr const char* kNames[2] = {"welcome.bmp", "modebar.bmp"};
    std::vector<fs::path> made_;
    std::vector<std::optional<std::vector<char>>> saved_;
    bool writable_ = false;
};

struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> rgb;  // 0x00RRGGBB, top row first
};

#if defined(_WIN32)
// The GDI bitmap's size, and its pixels read back as 32-bit top-down RGB.
std::optional<Picture> Inspect(void* handle) {
    BITMAP info{};
    if (GetObject(static_cast<HBITMAP>(handle), sizeof info, &info) != sizeof info) {
        return std::nullopt;
    }
    Picture picture{info.bmWidth, info.bmHeight, {}};
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = info.bmWidth;
    request.bmiHeader.biHeight = -info.bmHeight;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> bgrx(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, static_cast<HBITMAP>(handle), 0, info.bmHeight, bgrx.data(),
                               &request, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(rows, info.bmHeight);
    for (std::uint32_t pixel : bgrx) {
        picture.rgb.push_back(pixel & 0x00FFFFFF);  // BGRX in memory reads as 0x00RRGGBB
    }
    return picture;
}
#else
std::optional<Picture> Inspect(void* handle) {
    const auto* image = static_cast<const LxdBitmap*>(handle);
    Picture picture{image->width, image->height, {}};
    const std::size_t count = static_cast<std::size_t>(image->width) * image->height;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = image->pixels + 4 * i;
        EXPECT_EQ(p[3], 255);
        picture.rgb.push_back(std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]);
    }
    return picture;
}
#endif

struct Answer {
    std::int32_t result;
    void* bitmap;
    std::uint32_t colour;
};

class BrandingIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!folder_.Writable()) {
            GTEST_SKIP() << "cannot write " << kFolder.string()
                         << ": the fixed bitmap paths need a user who may write there (root)";
        }
        ASSERT_TRUE(driver_.Load(DefaultDriverPath())) << driver_.Error();
    }

    Answer Request(std::int32_t kind) {
        Answer answer{-7, &answer, 0x12345678};
        answer.result = driver_.Exports().GetBrandingBitmap(kind, &answer.bitmap, &answer.colour);
        return answer;
    }

    BrandingFolder folder_;
    DriverLibrary driver_;
};

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// 5 x 3, 24 bits, stored bottom row first with 15-byte rows padded to 16.
const BmpBuilder kWelcome = BmpBuilder(5, 3, 24)
                                .Row({kRed, kRed, kRed, kRed, kRed})
                                .Row({kGreen, 0x808080, kGreen, 0x808080, kGreen})
                                .Row({kBlue, 0, 0xFFFFFF, 0, kBlue});
const std::vector<std::uint32_t> kWelcomeRgb = {
    kBlue,  0,        0xFFFFFF, 0,        kBlue,   //
    kGreen, 0x808080, kGreen,   0x808080, kGreen,  //
    kRed,   kRed,     kRed,     kRed,     kRed,
};

// 7 x 2, 8 bits with a 20-entry table, stored top row first.
const BmpBuilder kModeBar =
    BmpBuilder(7, -2, 8)
        .ColoursUsed(20)
        .Palette({0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x00FFFF, 0xFF00FF,
                  0xFFFF00, 0x808080, 0x404040, 0x202020, 0x101010, 0x080808, 0x040404,
                  0x020202, 0x010101, 0xC0C0C0, 0xA0A0A0, 0x606060, 0x123456})
        .Row({1, 2, 3, 4, 5, 6, 7})
        .Row({19, 8, 16, 0, 0, 19, 1});
const std::vector<std::uint32_t> kModeBarRgb = {
    0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x00FFFF, 0xFF00FF, 0xFFFF00,
    0x123456, 0x808080, 0xC0C0C0, 0x000000, 0x000000, 0x123456, 0xFF0000,
};

TEST_F(BrandingIntegration, BothKindsGiveBitmapsOfTheFiles) {
    ASSERT_TRUE(kWelcome.WriteTo(BrandingFolder::Welcome().string()));
    ASSERT_TRUE(kModeBar.WriteTo(BrandingFolder::ModeBar().string()));

    const Answer welcome = Request(2);
    ASSERT_EQ(welcome.result, 1);
    EXPECT_EQ(welcome.colour, kMagenta);
    const Answer modeBar = Request(3);
    ASSERT_EQ(modeBar.result, 1);
    EXPECT_EQ(modeBar.colour, kMagenta);

    const std::optional<Picture> w = Inspect(welcome.bitmap);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->width, 5);
    EXPECT_EQ(w->height, 3);
    EXPECT_EQ(w->rgb, kWelcomeRgb);
    const std::optional<Picture> m = Inspect(modeBar.bitmap);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->width, 7);
    EXPECT_EQ(m->height, 2);
    EXPECT_EQ(m->rgb, kModeBarRgb);
}

TEST_F(BrandingIntegration, EachRequestReadsTheFileAfresh) {
    ASSERT_TRUE(kWelcome.WriteTo(BrandingFolder::Welcome().string()));
    const Answer first = Request(2);
    ASSERT_EQ(first.result, 1);

    ASSERT_TRUE(kModeBar.WriteTo(BrandingFolder::Welcome().string()));
    const Answer second = Request(2);
    ASSERT_EQ(second.result, 1);
    const std::optional<Picture> now = Inspect(second.bitmap);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->width, 7);
    EXPECT_EQ(now->rgb, kModeBarRgb);
#if defined(_WIN32)
    BITMAP info{};
    EXPECT_EQ(GetObject(static_cast<HBITMAP>(first.bitmap), sizeof info, &info), 0)
        << "the first bitmap was deleted by the second request";
#endif

    fs::remove(BrandingFolder::Welcome());
    const Answer gone = Request(2);
    EXPECT_EQ(gone.result, 0);
    EXPECT_EQ(gone.bitmap, nullptr);
    EXPECT_EQ(gone.colour, kWhite);
#if defined(_WIN32)
    BITMAP info2{};
    EXPECT_EQ(GetObject(static_cast<HBITMAP>(second.bitmap), sizeof info2, &info2), 0);
#endif
}

#if defined(_WIN32)
TEST_F(BrandingIntegration, UnloadDeletesTheBitmapsStillHeld) {
    ASSERT_TRUE(kWelcome.WriteTo(BrandingFolder::Welcome().string()));
    ASSERT_TRUE(kModeBar.WriteTo(BrandingFolder::ModeBar().string()));
    const Answer welcome = Request(2);
    const Answer modeBar = Request(3);
    ASSERT_EQ(welcome.result, 1);
    ASSERT_EQ(modeBar.result, 1);
    driver_.Unload();
    BITMAP info{};
    EXPECT_EQ(GetObject(static_cast<HBITMAP>(welcome.bitmap), sizeof info, &info), 0);
    EXPECT_EQ(GetObject(static_cast<HBITMAP>(modeBar.bitmap), sizeof info, &info), 0);
}
#endif

// Under AddressSanitizer any read past the loader's block stops the run.
TEST_F(BrandingIntegration, MalformedFilesGiveNoBitmap) {
    for (const test::BrokenBmp& bad : test::BrokenBmpFiles()) {
        SCOPED_TRACE(bad.name);
        ASSERT_TRUE(bad.file.WriteTo(BrandingFolder::Welcome().string()));
        const Answer answer = Request(2);
        EXPECT_EQ(answer.result, 0);
        EXPECT_EQ(answer.bitmap, nullptr);
        EXPECT_EQ(answer.colour, kWhite);
    }
    ASSERT_TRUE(kWelcome.WriteTo(BrandingFolder::Welcome().string()));
    EXPECT_EQ(Request(2).result, 1);
}

TEST_F(BrandingIntegration, TextsComeFromTheLibrary) {
    const char* text = nullptr;
    EXPECT_EQ(driver_.Exports().GetBrandingString(1, &text), 1);
    EXPECT_STREQ(text, "DVK");
    ASSERT_EQ(driver_.Exports().GetBrandingString(4, &text), 1);
    EXPECT_EQ(std::string(text).rfind("For support please contact:\n\nDravik Lighting\n", 0), 0u);
    EXPECT_EQ(driver_.Exports().GetBrandingString(2, &text), 0);
    EXPECT_EQ(text, nullptr);
}

}  // namespace
}  // namespace lxd::host
