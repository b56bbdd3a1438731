// The driver's whole state and the operations behind the twenty exports. The
// module holds one instance (driver/exports.cpp); tests make their own.
#pragma once

#include <cstdint>

#include "branding/branding.h"
#include "platform/platform.h"
#include "protocol/layout.h"

namespace lxd {

inline constexpr char kMessageNoSocketLayer[] = "Unable to start winsock";
inline constexpr char kMessageNoLevelOne[] = "Unable to get level 1 functionality from winsock";
inline constexpr char kMessageConnectFailed[] = "Error in Connect";

// What Connect asks of the system for the socket's receive queue: a second of
// full traffic (36 ports x 44 Hz of 1,090-byte datagrams) with room to spare.
inline constexpr int kReceiveBufferRequest = 4 * 1024 * 1024;

// Every member has a fixed initial value and nothing needs tearing down by a
// destructor: a static instance is ready before the module entry routine runs
// and nothing of it runs at unload but that routine.
class Driver {
  public:
    // The module entry routine: process attach (1 on success, 0 refuses the
    // load), process detach (1); thread notifications and unknown reasons do
    // nothing and answer 1.
    int OnModuleEvent(std::uint32_t reason);
    int Attach();
    void Detach();

    // Identity and capabilities: constant answers.
    static void GetVersionInfo(std::int32_t* first, std::int32_t* second);
    static std::int32_t GetDriverCaps() { return 1; }
    static std::int32_t GetDevCaps() { return 1; }
    // The host calls these around its use of the driver; set-up and tidy-up
    // belong to the module entry routine, so they do nothing.
    static void Init() {}
    static void Shutdown() {}

    // Detection.
    static std::int32_t StartDetect() { return 0; }
    static std::int32_t ContinueDetect(std::uint16_t hostWord, void* list);

    // Connection: the first Connect opens the intake socket, the last
    // Disconnect closes it.
    std::int16_t Connect(const void* entry);
    void Disconnect(std::uint16_t device);

    // The port store.
    std::int32_t GetNumPorts(std::uint16_t device) const;
    static std::int32_t GetPortCaps(std::uint16_t device, std::int32_t port);
    static std::int32_t LockPortBuffer(std::uint16_t device, std::int32_t port);
    static std::int32_t UnlockPortBuffer(std::uint16_t device, std::int32_t port);
    std::int32_t GetPortBuffer(std::uint16_t device, std::int32_t port, std::uint8_t** buffer);
    std::int32_t GetNumChannels(std::uint16_t device, std::int32_t port) const;
    std::uint8_t GetChannel(std::uint16_t device, std::int32_t port, std::int32_t channel) const;
    std::int32_t GetChannels(std::uint16_t device, std::int32_t port, std::int32_t start,
                             std::uint8_t* destination, std::int32_t count) const;

    // Drains every waiting datagram into the store.
    void ServiceDevices();

    // Branding.
    std::int32_t GetBrandingBitmap(std::int32_t kind, void** bitmap, std::uint32_t* colour);
    static std::int32_t GetBrandingString(std::int32_t kind, const char** text);

    // The state as it stands, for the module's own tests.
    std::int32_t ConnectionCount() const { return connectionCount_; }
    platform::Socket IntakeSocket() const { return intakeSocket_; }
    std::int32_t ChannelsPerPort() const { return channelsPerPort_; }
    std::uint8_t* Store() { return store_; }
    const std::uint8_t* Store() const { return store_; }
    // The bitmap held for a bitmap kind, or null.
    void* HeldBitmap(std::int32_t kind) const;

  private:
    struct BitmapRecord {
        void* handle;
        std::uint32_t colour;
    };

    bool OpenIntakeSocket();
    void CloseIntake();
    void DestroyHeld(BitmapRecord& record);

    std::int32_t connectionCount_ = 0;
    platform::Socket intakeSocket_ = platform::kInvalidSocket;
    std::int32_t channelsPerPort_ = 0;
    // Welcome record first, mode-bar second.
    BitmapRecord bitmaps_[2] = {{nullptr, kBitmapColour}, {nullptr, kBitmapColour}};
    alignas(64) std::uint8_t store_[kStoreSize] = {};
};

}  // namespace lxd
