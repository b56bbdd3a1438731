// Message boxes, GDI bitmaps, global memory and the fixed bitmap paths.
#include <windows.h>

#include "platform/platform.h"

namespace lxd::platform {

void ShowMessage(const char* text) {
    MessageBoxA(nullptr, text, "Error", MB_OK);
}

void* AllocateBlock(std::size_t bytes) {
    return GlobalAlloc(GMEM_FIXED, bytes);
}
void FreeBlock(void* block) {
    GlobalFree(block);
}

void* CreateBitmapFromDib(const std::uint8_t* block, std::size_t, std::size_t pixelOffset) {
    const auto* info = reinterpret_cast<const BITMAPINFO*>(block);
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return nullptr;
    }
    HBITMAP bitmap = CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, block + pixelOffset, info,
                                    DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

void DeleteBitmap(void* bitmap) {
    DeleteObject(static_cast<HGDIOBJ>(bitmap));
}

const char* WelcomeBitmapPath() {
    return "C:\\Program Files\\Dravik Lighting\\Vistane\\welcome.bmp";
}
const char* ModeBarBitmapPath() {
    return "C:\\Program Files\\Dravik Lighting\\Vistane\\modebar.bmp";
}

}  // namespace lxd::platform
