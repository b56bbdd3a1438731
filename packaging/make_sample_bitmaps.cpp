// make_sample_bitmaps: draws the two sample branding bitmaps that the packages
// ship, a welcome picture and a mode-bar strip, as 24-bit BMP files. Magenta
// (0xFF00FF) marks where the host shows its own background through.
//   make_sample_bitmaps OUTPUT_DIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lxdravik_version.h"
#include "protocol/pack.h"

namespace {

constexpr std::uint32_t kSeeThrough = 0xFF00FF;

struct Image {
    Image(int w, int h, std::uint32_t fill)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, fill) {}
    void Set(int x, int y, std::uint32_t rgb) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            pixels[static_cast<std::size_t>(y) * width + x] = rgb;
        }
    }
    void Box(int x0, int y0, int w, int h, std::uint32_t rgb) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                Set(x, y, rgb);
            }
        }
    }
    int width;
    int height;
    std::vector<std::uint32_t> pixels;  // 0xRRGGBB, top row first
};

std::uint32_t Mix(std::uint32_t a, std::uint32_t b, int part, int whole) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int ca = static_cast<int>(a >> shift & 0xFF);
        const int cb = static_cast<int>(b >> shift & 0xFF);
        out |= static_cast<std::uint32_t>(ca + (cb - ca) * part / whole) << shift;
    }
    return out;
}

// Whether (x, y) lies outside a w x h rectangle whose corners are rounded
// with radius r.
bool OutsideRounded(int x, int y, int w, int h, int r) {
    const int cx = x < r ? r : (x >= w - r ? w - r - 1 : x);
    const int cy = y < r ? r : (y >= h - r ? h - r - 1 : y);
    const int dx = x - cx;
    const int dy = y - cy;
    return dx * dx + dy * dy > r * r;
}

// A 5x7 font for the few characters the pictures use; bit 4 is the left column.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'G', {0x0F, 0x10, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
};

// Draws `text` with its top left corner at (x, y), each font dot a scale x
// scale square; characters without a glyph stay blank.
void Text(Image& image, int x, int y, const std::string& text, int scale, std::uint32_t rgb) {
    for (const char c : text) {
        for (const Glyph& glyph : kFont) {
            if (glyph.c != c) {
                continue;
            }
            for (int row = 0; row < 7; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if (glyph.rows[row] & (0x10 >> column)) {
                        image.Box(x + column * scale, y + row * scale, scale, scale, rgb);
                    }
                }
            }
        }
        x += 6 * scale;
    }
}

int TextWidth(const std::string& text, int scale) {
    return static_cast<int>(text.size()) * 6 * scale - scale;
}

// 320 x 200: a dark panel with rounded corners, a beam of light and the name.
Image Welcome(const std::string& version) {
    Image image(320, 200, kSeeThrough);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (OutsideRounded(x, y, image.width, image.height, 18)) {
                continue;
            }
            std::uint32_t rgb = Mix(0x16204A, 0x05070F, y, image.height);
            // A beam from a lamp at the top, widening downwards.
            const int spread = 8 + y * 2 / 3;
            const int off = x - 160 < 0 ? 160 - x : x - 160;
            if (y > 24 && off < spread) {
                rgb = Mix(rgb, 0xFFC24A, (spread - off) * (image.height - y), spread * 640);
            }
            image.Set(x, y, rgb);
        }
    }
    image.Box(146, 12, 28, 12, 0xD9DEE8);  // the lamp
    const std::string name = "LXDRAVIK";
    Text(image, (image.width - TextWidth(name, 5)) / 2, 92, name, 5, 0xFFFFFF);
    const std::string maker = "DRAVIK LIGHTING";
    Text(image, (image.width - TextWidth(maker, 2)) / 2, 144, maker, 2, 0xFFC24A);
    Text(image, (image.width - TextWidth(version, 2)) / 2, 170, version, 2, 0x9AA6C0);
    return image;
}

// 200 x 24: a row of level bars, green to amber to red, rising to the right;
// between and above the bars the host's mode bar shows through.
Image ModeBar() {
    Image image(200, 24, kSeeThrough);
    constexpr int kBars = 16;
    for (int i = 0; i < kBars; ++i) {
        const int height = 4 + i * 20 / (kBars - 1);
        const std::uint32_t rgb = i < kBars / 2 ? Mix(0x2EC45A, 0xFFC24A, i, kBars / 2)
                                                : Mix(0xFFC24A, 0xE8402E, i - kBars / 2, kBars / 2);
        image.Box(4 + i * 12, image.height - 2 - height, 9, height, rgb);
    }
    return image;
}

// Appends a little-endian field.
void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.resize(out.size() + 2);
    lxd::WriteLittle16(&out[out.size() - 2], v);
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.resize(out.size() + 4);
    lxd::WriteLittle32(&out[out.size() - 4], v);
}

// A 24-bit, uncompressed, bottom-up BMP file.
bool WriteBmp(const std::string& path, const Image& image) {
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(image.width) * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(image.height);
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + pixelBytes);
    Put32(out, 0);
    Put32(out, 14 + 40);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(image.width));
    Put32(out, static_cast<std::uint32_t>(image.height));
    Put16(out, 1);   // planes
    Put16(out, 24);  // bits per pixel
    Put32(out, 0);   // BI_RGB
    Put32(out, pixelBytes);
    Put32(out, 2835);  // 72 dots per inch
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t rgb = image.pixels[static_cast<std::size_t>(y) * image.width + x];
            out.push_back(static_cast<std::uint8_t>(rgb));
            out.push_back(static_cast<std::uint8_t>(rgb >> 8));
            out.push_back(static_cast<std::uint8_t>(rgb >> 16));
        }
        out.resize(out.size() + rowBytes - static_cast<std::uint32_t>(image.width) * 3, 0);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_bitmaps OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!WriteBmp(dir + "/welcome.bmp", Welcome(lxd::kVersionText)) ||
        !WriteBmp(dir + "/modebar.bmp", ModeBar())) {
        std::fprintf(stderr, "make_sample_bitmaps: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
