// Messages on stderr, memory blocks, bitmaps as owned RGBA images, fixed paths.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/posix/dib_image.h"

namespace lxd::platform {

void ShowMessage(const char* text) {
    std::fprintf(stderr, "Error: %s\n", text);
}

void* AllocateBlock(std::size_t bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}
void FreeBlock(void* block) {
    std::free(block);
}

void* CreateBitmapFromDib(const std::uint8_t* block, std::size_t blockSize,
                          std::size_t pixelOffset) {
    return ConvertDibToImage(block, blockSize, pixelOffset);
}

void DeleteBitmap(void* bitmap) {
    FreeImage(static_cast<LxdBitmap*>(bitmap));
}

const char* WelcomeBitmapPath() {
    return "/opt/dravik-lighting/vistane/welcome.bmp";
}
const char* ModeBarBitmapPath() {
    return "/opt/dravik-lighting/vistane/modebar.bmp";
}

}  // namespace lxd::platform
