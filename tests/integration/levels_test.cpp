#include <gtest/gtest.h>

#include <vector>

#include "tests/integration/loaded_driver.h"

namespace lxd::host {
namespace {

using LevelsIntegration = LoadedDriver;

// Levels for store addresses 1..n: never 0, so an arrived level is visible.
std::vector<std::uint8_t> Ramp(std::size_t n) {
    std::vector<std::uint8_t> levels(n);
    for (std::size_t i = 0; i < n; ++i) {
        levels[i] = static_cast<std::uint8_t>(1 + i % 255);
    }
    return levels;
}

TEST_F(LevelsIntegration, ReadsBeforeDuringAndAfterAConnection) {
    // Before: nothing to read but the zeroed store through the port buffer.
    EXPECT_EQ(d().GetNumPorts(0), -1);
    EXPECT_EQ(d().GetNumChannels(0, 0), 0);
    std::uint8_t* buffer = nullptr;
    EXPECT_EQ(d().GetPortBuffer(0, 35, &buffer), 0);
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(PortBytes(35), std::vector<std::uint8_t>(512, 0));
    std::vector<std::uint8_t> copy(16, 0xC3);
    EXPECT_EQ(d().GetChannels(0, 0, 0, copy.data(), 10), -1);
    EXPECT_EQ(copy, std::vector<std::uint8_t>(16, 0xC3));

    // A datagram sent while nothing listens is lost, not queued for later.
    SendLevels(1, {99});
    ASSERT_EQ(d().Connect(Entry()), 0);
    d().ServiceDevices();
    EXPECT_EQ(d().GetChannel(0, 0, 0), 0);

    // During: 600 levels from address 1 run from port 0 into port 1, and a
    // full level at the end of port 2 (store address 1,536).
    const std::vector<std::uint8_t> ramp = Ramp(600);
    SendLevels(1, ramp);
    SendLevels(1536, {255});
    ASSERT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 2, 511) == 255; }));
    ASSERT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 1, 87) == ramp[599]; }));
    EXPECT_EQ(d().GetChannel(0, 0, 0), ramp[0]);
    EXPECT_EQ(d().GetChannel(0, 1, 88), 0);
    EXPECT_EQ(d().GetChannel(0, 2, 512), 0);
    EXPECT_EQ(d().GetChannels(0, 0, 500, copy.data(), 100), 12);
    EXPECT_EQ(std::vector<std::uint8_t>(copy.begin(), copy.begin() + 12),
              std::vector<std::uint8_t>(ramp.begin() + 500, ramp.begin() + 512));
    EXPECT_EQ(copy[12], 0xC3);
    EXPECT_EQ(PortBytes(0), std::vector<std::uint8_t>(ramp.begin(), ramp.begin() + 512));
    EXPECT_EQ(d().GetPortBuffer(0, 35, &buffer), 512);

    // After: the levels stay in the store, readable only through the buffer.
    d().Disconnect(0);
    EXPECT_EQ(d().GetPortBuffer(0, 0, &buffer), 0);
    EXPECT_EQ(PortBytes(0), std::vector<std::uint8_t>(ramp.begin(), ramp.begin() + 512));
    EXPECT_EQ(d().GetChannel(0, 2, 511), 0);
    EXPECT_EQ(d().GetChannels(0, 0, 0, copy.data(), 1), -1);
    EXPECT_EQ(d().GetNumChannels(0, 0), 0);

    // A new connection shows them again.
    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_EQ(d().GetChannel(0, 2, 511), 255);
    EXPECT_EQ(d().GetChannel(0, 1, 87), ramp[599]);
}

TEST_F(LevelsIntegration, ServiceWithoutConnectionChangesNothing) {
    d().ServiceDevices();
    EXPECT_EQ(PortBytes(0), std::vector<std::uint8_t>(512, 0));
    EXPECT_TRUE(PortIsFree());
}

}  // namespace
}  // namespace lxd::host
