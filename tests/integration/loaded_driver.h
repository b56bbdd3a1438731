// The built driver, loaded as a host loads it, with helpers to detect, connect,
// send levels over loopback and wait for them to arrive.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/driver_library.h"
#include "host/packets.h"
#include "host/udp.h"

namespace lxd::host {

inline constexpr std::uint16_t kIntakePort = 2501;
inline constexpr std::size_t kDeviceEntrySize = 358;
inline constexpr std::size_t kDetectionListSize = 4 + 32 * kDeviceEntrySize;

// A detection list that the driver has filled: entry 0 is its device.
struct DetectionList {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kDetectionListSize, 0);
    const void* Entry() const { return bytes.data() + 4; }
};

class LoadedDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(driver_.Load(DefaultDriverPath())) << driver_.Error();
        ASSERT_EQ(d().ContinueDetect(0, list_.bytes.data()), 1);
    }
    // Unloading closes whatever the test left open.
    void TearDown() override { driver_.Unload(); }

    const DriverExports& d() const { return driver_.Exports(); }
    const void* Entry() const { return list_.Entry(); }

    // Unloads the driver and loads it again from the same path.
    void Reload() {
        driver_.Unload();
        ASSERT_TRUE(driver_.Load(DefaultDriverPath())) << driver_.Error();
    }

    // Sends one level packet to the intake port at `host`.
    static void SendLevels(std::uint32_t start, const std::vector<std::uint8_t>& levels,
                           const std::string& host = "127.0.0.1") {
        UdpSocket sender;
        ASSERT_TRUE(sender.Valid());
        ASSERT_TRUE(sender.SetDestination(host, kIntakePort));
        LevelPacket packet;
        packet.start = start;
        packet.levels = levels;
        ASSERT_TRUE(sender.Send(packet.Build()));
    }

    // Services the driver until `arrived` holds, for at most two seconds:
    // loopback delivery is immediate on a quiet machine, but not promised.
    bool ServiceUntil(const std::function<bool()>& arrived) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            d().ServiceDevices();
            if (arrived()) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // The 512 bytes of a port as GetPortBuffer shows them, connected or not.
    std::vector<std::uint8_t> PortBytes(std::int32_t port) const {
        std::uint8_t* buffer = nullptr;
        if (d().GetPortBuffer(0, port, &buffer) < 0 || buffer == nullptr) {
            return {};
        }
        return std::vector<std::uint8_t>(buffer, buffer + 512);
    }

    // Whether UDP 2501 on every address is free for another socket to take.
    static bool PortIsFree() {
        UdpSocket probe;
        return probe.Bind(kIntakePort);
    }

    DriverLibrary driver_;
    DetectionList list_;
};

}  // namespace lxd::host
