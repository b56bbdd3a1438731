#include "branding/bmp_loader.h"

#include <cstdio>
#include <cstring>

namespace lxd {
namespace {

constexpr std::uint64_t kMaxPaletteEntries = 256;

bool SupportedBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Closes the stream and frees the block on every path out of the loader.
class LoadResources {
  public:
    explicit LoadResources(const BitmapFactory& f) : factory(f) {}
    ~LoadResources() {
        if (block != nullptr) {
            factory.freeBlock(block);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    LoadResources(const LoadResources&) = delete;
    LoadResources& operator=(const LoadResources&) = delete;
    const BitmapFactory& factory;
    std::FILE* file = nullptr;
    void* block = nullptr;
};

}  // namespace

bool LocateDibPixels(const std::uint8_t* block, std::size_t blockSize, std::size_t* pixelOffset) {
    BmpInfo info;
    if (!ReadBmpInfo(block, blockSize, info)) {
        return false;
    }
    const auto [width, height, bits, compression, sizeImage, coloursUsed] = info;
    if (width <= 0 || height == 0 || !SupportedBitCount(bits)) {
        return false;
    }
    // JPEG, PNG and other encodings are not for screen bitmaps, and their
    // data would be read by a rule that is not checked here.
    if (compression > kBiBitfields) {
        return false;
    }
    // All sizes in 64 bits: no field can make them wrap.
    std::uint64_t offset = kBmpInfoHeaderSize;
    if (bits <= 8) {
        const std::uint64_t entries = coloursUsed != 0 ? coloursUsed : std::uint64_t{1} << bits;
        if (entries > kMaxPaletteEntries) {
            return false;
        }
        offset += 4 * entries;
    } else {
        offset += 4 * std::uint64_t{coloursUsed};
        if (compression == kBiBitfields) {
            offset += 12;
        }
    }
    std::uint64_t pixelBytes;
    if (compression == kBiRle8 || compression == kBiRle4) {
        pixelBytes = sizeImage;
    } else {
        const std::uint64_t rowBytes =
            (std::uint64_t{static_cast<std::uint32_t>(width)} * bits + 31) / 32 * 4;
        const std::uint64_t rows = height < 0 ? -std::int64_t{height} : std::int64_t{height};
        pixelBytes = rowBytes * rows;
    }
    if (offset > blockSize || pixelBytes > blockSize - offset) {
        return false;
    }
    *pixelOffset = static_cast<std::size_t>(offset);
    return true;
}

void* LoadBitmapFile(const char* path, const BitmapFactory& factory) {
    LoadResources res(factory);
    res.file = std::fopen(path, "rb");
    if (res.file == nullptr || std::fseek(res.file, 0, SEEK_END) != 0) {
        return nullptr;
    }
    const long fileSize = std::ftell(res.file);
    if (fileSize < 0 || std::fseek(res.file, 0, SEEK_SET) != 0) {
        return nullptr;
    }
    std::uint8_t fileHeader[kBmpFileHeaderSize];
    if (std::fread(fileHeader, sizeof fileHeader, 1, res.file) != 1 ||
        ReadLittle16(fileHeader) != kBmpSignature) {
        return nullptr;
    }
    if (static_cast<unsigned long>(fileSize) < kBmpFileHeaderSize + kBmpInfoHeaderSize) {
        return nullptr;
    }
    const auto blockSize = static_cast<std::size_t>(fileSize) - kBmpFileHeaderSize;
    res.block = factory.allocateBlock(blockSize);
    if (res.block == nullptr || std::fread(res.block, blockSize, 1, res.file) != 1) {
        return nullptr;
    }
    const auto* block = static_cast<const std::uint8_t*>(res.block);
    std::size_t pixelOffset = 0;
    if (!LocateDibPixels(block, blockSize, &pixelOffset)) {
        return nullptr;
    }
    return factory.createBitmap(block, blockSize, pixelOffset);
}

}  // namespace lxd
