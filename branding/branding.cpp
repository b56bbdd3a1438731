#include "branding/branding.h"

namespace lxd {

const char* BrandingText(std::int32_t kind) {
    switch (kind) {
        case kBrandingShortString:
            return kShortBrandingString;
        case kBrandingSupportText:
            return kSupportText;
        default:
            return nullptr;
    }
}

int BitmapRecordIndex(std::int32_t kind) {
    switch (kind) {
        case kBrandingWelcomeBitmap:
            return 0;
        case kBrandingModeBarBitmap:
            return 1;
        default:
            return -1;
    }
}

}  // namespace lxd
