#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lxd::fake {
namespace {

FakePlatform g_fake;

void Record(Call call, platform::Socket socket = 0, const void* handle = nullptr,
            std::string text = {}) {
    g_fake.calls.push_back({call, socket, handle, std::move(text)});
}

}  // namespace

std::size_t FakePlatform::Count(Call call) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [call](const CallRecord& r) { return r.call == call; }));
}

std::vector<std::string> FakePlatform::Messages() const {
    std::vector<std::string> texts;
    for (const CallRecord& r : calls) {
        if (r.call == Call::kShowMessage) {
            texts.push_back(r.text);
        }
    }
    return texts;
}

FakePlatform& Platform() {
    return g_fake;
}

void Reset() {
    g_fake = FakePlatform{};
}

}  // namespace lxd::fake

namespace lxd::platform {

using fake::Call;
using fake::g_fake;
using fake::Record;

int StartSocketLayer(std::uint8_t* majorVersion) {
    Record(Call::kStartSocketLayer);
    if (g_fake.startResult == 0) {
        *majorVersion = g_fake.majorVersion;
    }
    return g_fake.startResult;
}

void StopSocketLayer() {
    Record(Call::kStopSocketLayer);
}

Socket OpenUdpSocket() {
    if (g_fake.failOpen) {
        Record(Call::kOpenUdpSocket, kInvalidSocket);
        return kInvalidSocket;
    }
    const Socket socket = g_fake.nextSocket++;
    Record(Call::kOpenUdpSocket, socket);
    return socket;
}

bool RequestReceiveBuffer(Socket socket, int) {
    Record(Call::kRequestReceiveBuffer, socket);
    return !g_fake.failReceiveBuffer;
}

bool ClaimPortExclusively(Socket socket) {
    Record(Call::kClaimPortExclusively, socket);
    return !g_fake.failClaimPort;
}

bool BindAnyAddress(Socket socket, std::uint16_t) {
    Record(Call::kBindAnyAddress, socket);
    return !g_fake.failBind;
}

bool SetNonBlocking(Socket socket) {
    Record(Call::kSetNonBlocking, socket);
    return !g_fake.failNonBlocking;
}

void CloseSocket(Socket socket) {
    Record(Call::kCloseSocket, socket);
}

int ReceiveDatagram(Socket socket, std::uint8_t* buffer, int capacity) {
    Record(Call::kReceiveDatagram, socket);
    if (g_fake.datagrams.empty()) {
        return -1;  // would block
    }
    std::vector<std::uint8_t> datagram = std::move(g_fake.datagrams.front());
    g_fake.datagrams.pop_front();
    if (datagram.size() > static_cast<std::size_t>(capacity)) {
        return -1;  // discarded, as Winsock does
    }
    // An empty vector has no data pointer to copy from.
    std::copy(datagram.begin(), datagram.end(), buffer);
    return static_cast<int>(datagram.size());
}

void ShowMessage(const char* text) {
    Record(Call::kShowMessage, 0, nullptr, text);
}

void* AllocateBlock(std::size_t bytes) {
    void* block = g_fake.failAllocate ? nullptr : std::malloc(bytes == 0 ? 1 : bytes);
    Record(Call::kAllocateBlock, 0, block);
    return block;
}

void FreeBlock(void* block) {
    Record(Call::kFreeBlock, 0, block);
    std::free(block);
}

void* CreateBitmapFromDib(const std::uint8_t* block, std::size_t blockSize,
                          std::size_t pixelOffset) {
    g_fake.lastDib.assign(block, block + blockSize);
    g_fake.lastDibSize = blockSize;
    g_fake.lastPixelOffset = pixelOffset;
    void* bitmap = g_fake.failCreateBitmap ? nullptr : reinterpret_cast<void*>(g_fake.nextBitmap++);
    if (bitmap != nullptr) {
        g_fake.liveBitmaps.push_back(bitmap);
    }
    Record(Call::kCreateBitmap, 0, bitmap);
    return bitmap;
}

void DeleteBitmap(void* bitmap) {
    Record(Call::kDeleteBitmap, 0, bitmap);
    auto& live = g_fake.liveBitmaps;
    live.erase(std::remove(live.begin(), live.end(), bitmap), live.end());
}

const char* WelcomeBitmapPath() {
    return g_fake.welcomePath.c_str();
}
const char* ModeBarBitmapPath() {
    return g_fake.modeBarPath.c_str();
}

}  // namespace lxd::platform
