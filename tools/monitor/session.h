// The monitor's side of the driver: load, detect, connect, service and read
// the levels of all ports, counting per port how often they change.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "host/clock.h"
#include "host/driver_library.h"
#include "protocol/layout.h"

namespace lxd::monitor {

using Clock = host::Clock;

class DriverSession {
  public:
    DriverSession() = default;
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    // Loads the driver, runs detection and connects with the detected entry.
    // On failure returns false with a one-line reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Disconnects (the driver stays loaded until the session is destroyed).
    void Close();

    // One pass of the host loop: ServiceDevices, then read every port.
    void Tick(Clock::time_point now);

    const std::uint8_t* Levels(int port) const { return levels_[port]; }
    // Levels as they were before the last tick, to see which channels moved.
    const std::uint8_t* PreviousLevels(int port) const { return previous_[port]; }
    // Ticks in which this port's levels changed, since connecting.
    std::uint32_t Changes(int port) const { return changes_[port]; }
    // Changing ticks per second over the last full second.
    double UpdatesPerSecond(int port) const { return rate_[port]; }
    // Whether the port changed within the last second.
    bool Active(int port, Clock::time_point now) const;

    bool DriverLoaded() const { return driver_.Loaded(); }
    std::uint64_t ServiceCalls() const { return serviceCalls_; }
    const std::string& Path() const { return path_; }
    int VersionMajor() const { return versionMajor_; }
    int VersionMinor() const { return versionMinor_; }
    const std::string& Branding() const { return branding_; }
    const std::string& DeviceName() const { return deviceName_; }

  private:
    host::DriverLibrary driver_;
    bool connected_ = false;
    std::string path_;
    int versionMajor_ = 0;
    int versionMinor_ = 0;
    std::string branding_;
    std::string deviceName_;

    std::uint8_t levels_[kNumPorts][kChannelsPerPort] = {};
    std::uint8_t previous_[kNumPorts][kChannelsPerPort] = {};
    std::uint32_t changes_[kNumPorts] = {};
    std::uint32_t windowChanges_[kNumPorts] = {};
    double rate_[kNumPorts] = {};
    Clock::time_point lastChange_[kNumPorts] = {};
    Clock::time_point windowStart_{};
    std::uint64_t serviceCalls_ = 0;
};

}  // namespace lxd::monitor
