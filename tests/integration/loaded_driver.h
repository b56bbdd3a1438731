// The built driver, loaded as a host loads it, with helpers to detect, connect,
// send levels over loopback, wait for them to arrive and read the whole store.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/device_entry.h"
#include "host/driver_library.h"
#include "host/udp.h"
#include "protocol/layout.h"
#include "tests/support/packets.h"

namespace lxd::host {

// The packet builders of the tests' support library.
using test::Block;
using test::BlockPacket;
using test::Bytes;
using test::CodedBlockData;
using test::LevelDatagram;
using test::LevelPacket;

// A detection list that the driver has filled: entry 0 is its device.
struct DetectionList {
    std::vector<std::uint8_t> bytes = EmptyDetectionList();
    const void* Entry() const { return bytes.data() + kListHeaderSize; }
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

    bool Connect() { return d().Connect(Entry()) == 0; }

    // The whole store, port after port.
    std::vector<std::uint8_t> Store() const {
        std::vector<std::uint8_t> store;
        store.reserve(kStoreSize);
        for (int p = 0; p < kNumPorts; ++p) {
            const std::vector<std::uint8_t> levels = PortBytes(p);
            if (levels.size() != kChannelsPerPort) {
                ADD_FAILURE() << "GetPortBuffer refused port " << p;
                return std::vector<std::uint8_t>(kStoreSize);
            }
            store.insert(store.end(), levels.begin(), levels.end());
        }
        return store;
    }

    DriverLibrary driver_;
    DetectionList list_;
};

// A sender aimed at the driver's port on this machine.
inline void AimAtDriver(UdpSocket& sender) {
    ASSERT_TRUE(sender.Valid());
    ASSERT_TRUE(sender.SetDestination("127.0.0.1", kIntakePort));
}

// 512 levels for one port, different for every (port, tag) pair at every
// channel: two tags that differ by 1..255 never give the same level.
inline std::vector<std::uint8_t> PortLevels(int port, int tag) {
    std::vector<std::uint8_t> levels(kChannelsPerPort);
    for (int k = 0; k < kChannelsPerPort; ++k) {
        levels[k] = static_cast<std::uint8_t>(port * 37 + tag * 11 + k * 3);
    }
    return levels;
}

// A level packet that sets one whole port: 66 + 512 = 578 bytes.
inline Bytes PortPacket(int port, const std::vector<std::uint8_t>& levels) {
    LevelPacket packet;
    packet.start = static_cast<std::uint32_t>(port * kChannelsPerPort + 1);
    packet.levels = levels;
    return packet.Build();
}

// The first index where two stores differ, or -1, for readable failures.
inline long FirstDifference(const std::vector<std::uint8_t>& a,
                            const std::vector<std::uint8_t>& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            return static_cast<long>(i);
        }
    }
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

}  // namespace lxd::host
