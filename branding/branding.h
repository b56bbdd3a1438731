// Branding: two constant texts and two bitmaps loaded from fixed files.
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

// Destroys the bitmaps still held, welcome first, then mode-bar.
void ReleaseBrandingBitmaps();

// The bitmap currently held for a bitmap kind, or null (for tests and unload).
void* HeldBrandingBitmap(std::int32_t kind);

}  // namespace lxd
