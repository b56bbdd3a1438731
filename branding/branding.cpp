#include "branding/branding.h"

#include "branding/bmp_loader.h"
#include "driver/lxdravik.h"
#include "platform/platform.h"

namespace lxd {
namespace {

struct BitmapRecord {
    void* handle;
    std::uint32_t colour;
};

// Welcome record first, mode-bar second.
BitmapRecord g_records[2] = {{nullptr, kBitmapColour}, {nullptr, kBitmapColour}};

BitmapRecord* RecordOf(std::int32_t kind) {
    switch (kind) {
        case kBrandingWelcomeBitmap:
            return &g_records[0];
        case kBrandingModeBarBitmap:
            return &g_records[1];
        default:
            return nullptr;
    }
}

const char* PathOf(std::int32_t kind) {
    return kind == kBrandingWelcomeBitmap ? platform::WelcomeBitmapPath()
                                          : platform::ModeBarBitmapPath();
}

void DestroyHeld(BitmapRecord& record) {
    if (record.handle != nullptr) {
        platform::DeleteBitmap(record.handle);
        record.handle = nullptr;
    }
}

}  // namespace

void ReleaseBrandingBitmaps() {
    for (BitmapRecord& record : g_records) {
        DestroyHeld(record);
    }
}

void* HeldBrandingBitmap(std::int32_t kind) {
    const BitmapRecord* record = RecordOf(kind);
    return record != nullptr ? record->handle : nullptr;
}

}  // namespace lxd

extern "C" {

int32_t LXD_CALL GetBrandingString(int32_t kind, const char** text) {
    const char* result = nullptr;
    if (kind == lxd::kBrandingShortString) {
        result = lxd::kShortBrandingString;
    } else if (kind == lxd::kBrandingSupportText) {
        result = lxd::kSupportText;
    }
    if (text != nullptr) {
        *text = result;
    }
    return result != nullptr ? 1 : 0;
}

int32_t LXD_CALL GetBrandingBitmap(int32_t kind, void** bitmap, uint32_t* colour) {
    void* handle = nullptr;
    uint32_t shown = lxd::kNoBitmapColour;
    if (lxd::BitmapRecord* record = lxd::RecordOf(kind)) {
        lxd::DestroyHeld(*record);
        record->handle = lxd::LoadBitmapFile(lxd::PathOf(kind));
        if (record->handle != nullptr) {
            handle = record->handle;
            shown = record->colour;
        }
    }
    if (bitmap != nullptr) {
        *bitmap = handle;
    }
    if (colour != nullptr) {
        *colour = shown;
    }
    return handle != nullptr ? 1 : 0;
}

}  // extern "C"
