#include "driver/driver.h"

#include <cstring>

#include "branding/bmp_loader.h"
#include "branding/branding.h"
#include "driver/detection.h"
#include "driver/module.h"
#include "intake/datagram.h"
#include "lxdravik_version.h"

namespace lxd {
namespace {

bool ValidPort(std::uint16_t device, std::int32_t port) {
    return device == 0 && port >= 0 && port < kNumPorts;
}

// Compares the entry's zero-terminated name field with the device name, up to
// and including the terminator; stops at the first difference.
bool NameMatches(const void* entry) {
    const auto* name = static_cast<const char*>(entry) + kEntryNameOffset;
    for (std::size_t i = 0; i < sizeof kDeviceName; ++i) {
        if (name[i] != kDeviceName[i]) {
            return false;
        }
    }
    return true;
}

constexpr BitmapFactory kPlatformBitmaps{&platform::AllocateBlock, &platform::FreeBlock,
                                         &platform::CreateBitmapFromDib};

}  // namespace

int Driver::OnModuleEvent(std::uint32_t reason) {
    switch (reason) {
        case kProcessAttach:
            return Attach();
        case kProcessDetach:
            Detach();
            return 1;
        default:
            return 1;
    }
}

int Driver::Attach() {
    connectionCount_ = 0;
    std::memset(store_, 0, sizeof store_);
    std::uint8_t major = 0;
    if (platform::StartSocketLayer(&major) != 0) {
        platform::ShowMessage(kMessageNoSocketLayer);
        return 0;
    }
    if (major < 1) {
        platform::ShowMessage(kMessageNoLevelOne);
        platform::StopSocketLayer();
        return 0;
    }
    return 1;
}

void Driver::Detach() {
    for (BitmapRecord& record : bitmaps_) {
        DestroyHeld(record);
    }
    // Every open connection goes at once, so that an unloaded module never
    // leaves the intake port held in the host's process.
    if (connectionCount_ > 0) {
        connectionCount_ = 0;
        CloseIntake();
    }
    platform::StopSocketLayer();
}

void Driver::GetVersionInfo(std::int32_t* first, std::int32_t* second) {
    if (first != nullptr) {
        *first = kVersionFirst;
    }
    if (second != nullptr) {
        *second = kVersionSecond;
    }
}

std::int32_t Driver::ContinueDetect(std::uint16_t hostWord, void* list) {
    if (list != nullptr) {
        AppendOwnDevice(hostWord, list);
    }
    return 1;
}

bool Driver::OpenIntakeSocket() {
    intakeSocket_ = platform::OpenUdpSocket();
    if (intakeSocket_ == platform::kInvalidSocket) {
        return false;
    }
    // Both are wishes: a refusal leaves a working, if smaller or shared, socket.
    platform::RequestReceiveBuffer(intakeSocket_, kReceiveBufferRequest);
    platform::ClaimPortExclusively(intakeSocket_);
    if (platform::BindAnyAddress(intakeSocket_, kIntakePort) &&
        platform::SetNonBlocking(intakeSocket_)) {
        return true;
    }
    platform::CloseSocket(intakeSocket_);
    intakeSocket_ = platform::kInvalidSocket;
    return false;
}

void Driver::CloseIntake() {
    platform::CloseSocket(intakeSocket_);
    intakeSocket_ = platform::kInvalidSocket;
    channelsPerPort_ = 0;
}

std::int16_t Driver::Connect(const void* entry) {
    if (entry != nullptr && NameMatches(entry)) {
        if (connectionCount_ > 0) {
            ++connectionCount_;
            return 0;
        }
        if (OpenIntakeSocket()) {
            channelsPerPort_ = kChannelsPerPort;
            connectionCount_ = 1;
            return 0;
        }
    }
    platform::ShowMessage(kMessageConnectFailed);
    return -1;
}

void Driver::Disconnect(std::uint16_t device) {
    if (device != 0 || connectionCount_ <= 0) {
        return;
    }
    if (--connectionCount_ == 0) {
        CloseIntake();
    }
}

std::int32_t Driver::GetNumPorts(std::uint16_t device) const {
    return device != 0 || connectionCount_ == 0 ? -1 : kNumPorts;
}

std::int32_t Driver::GetPortCaps(std::uint16_t, std::int32_t port) {
    return port == 0 ? 1 : 0;
}

std::int32_t Driver::LockPortBuffer(std::uint16_t device, std::int32_t port) {
    return ValidPort(device, port) ? 0 : -1;
}

std::int32_t Driver::UnlockPortBuffer(std::uint16_t device, std::int32_t port) {
    return ValidPort(device, port) ? 0 : -1;
}

std::int32_t Driver::GetPortBuffer(std::uint16_t device, std::int32_t port, std::uint8_t** buffer) {
    if (!ValidPort(device, port) || buffer == nullptr) {
        return -1;
    }
    *buffer = store_ + port * kChannelsPerPort;
    return channelsPerPort_;
}

std::int32_t Driver::GetNumChannels(std::uint16_t device, std::int32_t port) const {
    return ValidPort(device, port) ? channelsPerPort_ : -1;
}

std::uint8_t Driver::GetChannel(std::uint16_t device, std::int32_t port,
                                std::int32_t channel) const {
    if (!ValidPort(device, port) || channel < 0 || channel >= channelsPerPort_) {
        return 0;
    }
    return store_[port * kChannelsPerPort + channel];
}

std::int32_t Driver::GetChannels(std::uint16_t device, std::int32_t port, std::int32_t start,
                                 std::uint8_t* destination, std::int32_t count) const {
    if (!ValidPort(device, port) || start < 0 || start >= channelsPerPort_ ||
        destination == nullptr || count < 0) {
        return -1;
    }
    const std::int32_t room = channelsPerPort_ - start;
    const std::int32_t n = count < room ? count : room;
    std::memcpy(destination, store_ + port * kChannelsPerPort + start, static_cast<std::size_t>(n));
    return n;
}

void Driver::ServiceDevices() {
    if (intakeSocket_ == platform::kInvalidSocket) {
        return;
    }
    // The store has no lock: LockPortBuffer only checks its arguments.
    static constexpr StoreWriteHooks kHooks{nullptr, nullptr, nullptr};
    std::uint8_t buffer[kLargestDatagram];
    for (;;) {
        const int received = platform::ReceiveDatagram(intakeSocket_, buffer, sizeof buffer);
        if (received <= 0) {
            return;
        }
        ApplyDatagram(buffer, static_cast<std::uint32_t>(received), store_, kHooks);
    }
}

void Driver::DestroyHeld(BitmapRecord& record) {
    if (record.handle != nullptr) {
        platform::DeleteBitmap(record.handle);
        record.handle = nullptr;
    }
}

std::int32_t Driver::GetBrandingBitmap(std::int32_t kind, void** bitmap, std::uint32_t* colour) {
    void* handle = nullptr;
    std::uint32_t shown = kNoBitmapColour;
    if (const int index = BitmapRecordIndex(kind); index >= 0) {
        BitmapRecord& record = bitmaps_[index];
        DestroyHeld(record);
        const char* path =
            index == 0 ? platform::WelcomeBitmapPath() : platform::ModeBarBitmapPath();
        record.handle = LoadBitmapFile(path, kPlatformBitmaps);
        if (record.handle != nullptr) {
            handle = record.handle;
            shown = record.colour;
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

std::int32_t Driver::GetBrandingString(std::int32_t kind, const char** text) {
    const char* result = BrandingText(kind);
    if (text != nullptr) {
        *text = result;
    }
    return result != nullptr ? 1 : 0;
}

void* Driver::HeldBitmap(std::int32_t kind) const {
    const int index = BitmapRecordIndex(kind);
    return index >= 0 ? bitmaps_[index].handle : nullptr;
}

}  // namespace lxd
