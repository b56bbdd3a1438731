// A loaded, detected driver for the load and fault tests, and small helpers to
// read its whole store and to build full-port level packets.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tests/integration/loaded_driver.h"
#include "host/packets.h"
#include "host/udp.h"

namespace lxd::hardening {

inline constexpr int kPorts = 36;
inline constexpr int kChannels = 512;
inline constexpr std::size_t kStoreBytes = kPorts * kChannels;
inline constexpr std::uint16_t kPort = host::kIntakePort;

// The loaded, detected driver of the integration tests, with the whole store
// at hand.
class DriverTest : public host::LoadedDriver {
  protected:
    bool Connect() { return d().Connect(Entry()) == 0; }

    // The whole store, port after port.
    std::vector<std::uint8_t> Store() const {
        std::vector<std::uint8_t> store;
        store.reserve(kStoreBytes);
        for (int p = 0; p < kPorts; ++p) {
            const std::vector<std::uint8_t> levels = PortBytes(p);
            if (levels.size() != kChannels) {
                ADD_FAILURE() << "GetPortBuffer refused port " << p;
                return std::vector<std::uint8_t>(kStoreBytes);
            }
            store.insert(store.end(), levels.begin(), levels.end());
        }
        return store;
    }
};

// A sender aimed at the driver's port on this machine.
inline void AimAtDriver(host::UdpSocket& sender) {
    ASSERT_TRUE(sender.Valid());
    ASSERT_TRUE(sender.SetDestination("127.0.0.1", kPort));
}

// 512 levels for one port, different for every (port, tag) pair at every
// channel: two tags that differ by 1..255 never give the same level.
inline std::vector<std::uint8_t> PortLevels(int port, int tag) {
    std::vector<std::uint8_t> levels(kChannels);
    for (int k = 0; k < kChannels; ++k) {
        levels[k] = static_cast<std::uint8_t>(port * 37 + tag * 11 + k * 3);
    }
    return levels;
}

// A level packet that sets one whole port: 66 + 512 = 578 bytes.
inline host::Bytes PortPacket(int port, const std::vector<std::uint8_t>& levels) {
    host::LevelPacket packet;
    packet.start = static_cast<std::uint32_t>(port * kChannels + 1);
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

}  // namespace lxd::hardening
