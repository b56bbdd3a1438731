// Branding: the four items a host shows for this driver, chosen by one kind
// number. Two are constant texts; two are bitmaps read from fixed files.
#pragma once

#include <cstdint>

namespace lxd {

enum BrandingKind : std::int32_t {
    kBrandingShortString = 1,
    kBrandingWelcomeBitmap = 2,
    kBrandingModeBarBitmap = 3,
    kBrandingSupportText = 4,
};

inline constexpr char kShortBrandingString[] = "DVK";
inline constexpr char kSupportText[] =
    "For support please contact:\n"
    "\n"
    "Dravik Lighting\n"
    "https://support.dravik-lighting.example/vistane\n";

inline constexpr std::uint32_t kBitmapColour = 0x00FF00FF;    // magenta
inline constexpr std::uint32_t kNoBitmapColour = 0x00FFFFFF;  // white

// The text of a text kind (1 or 4); null for every other kind.
const char* BrandingText(std::int32_t kind);

// Which bitmap record a bitmap kind uses: 0 welcome, 1 mode-bar; -1 for every
// other kind.
int BitmapRecordIndex(std::int32_t kind);

}  // namespace lxd
