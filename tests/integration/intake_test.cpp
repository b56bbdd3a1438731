#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/integration/loaded_driver.h"
#include "tests/support/intake_scenarios.h"

namespace lxd::host {
namespace {

// The driver loaded by path and connected to its one device, a sender aimed at
// its port, and the store read through the host's exports.
class IntakeIntegration : public LoadedDriver {
  protected:
    void SetUp() override {
        LoadedDriver::SetUp();
        ASSERT_TRUE(sender_.SetDestination("127.0.0.1", kIntakePort));
        ASSERT_EQ(d().Connect(Entry()), 0);
    }

    void Send(const Bytes& datagram) {
        static const std::uint8_t kNothing[1] = {};
        ASSERT_TRUE(datagram.empty() ? sender_.Send(kNothing, 0) : sender_.Send(datagram));
    }

    // Levels at store addresses address .. address + n - 1.
    Bytes Stored(std::uint32_t address, std::size_t n) const {
        std::uint8_t* port = nullptr;
        const auto p = static_cast<std::int32_t>((address - 1) / 512);
        EXPECT_EQ(d().GetPortBuffer(0, p, &port), 512);
        const std::uint8_t* at = port + (address - 1) % 512;
        return Bytes(at, at + n);
    }

    UdpSocket sender_;
};

class IntakeScenarioIntegration : public IntakeIntegration,
                                  public ::testing::WithParamInterface<test::IntakeScenario> {};

TEST_P(IntakeScenarioIntegration, TheStoreShowsTheStream) {
    const test::IntakeScenario& s = GetParam();
    for (const Bytes& datagram : s.datagrams) {
        Send(datagram);
    }
    const auto arrived = [&] {
        for (const test::StoreRegion& r : s.expected) {
            if (Stored(r.address, r.levels.size()) != r.levels) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(ServiceUntil(arrived));
    for (const test::StoreRegion& r : s.expected) {
        EXPECT_EQ(Stored(r.address, r.levels.size()), r.levels) << "at address " << r.address;
    }
}

INSTANTIATE_TEST_SUITE_P(Intake, IntakeScenarioIntegration,
                         ::testing::ValuesIn(test::IntakeScenarios()),
                         [](const auto& info) { return info.param.name; });

TEST_F(IntakeIntegration, DatagramsSentWhileDisconnectedAreNeverApplied) {
    d().Disconnect(0);
    ASSERT_EQ(d().GetNumPorts(0), -1);
    Send(LevelPacket{kLevelPacketKind, 1, Bytes(4, 0x11)}.Build());
    d().ServiceDevices();

    ASSERT_EQ(d().Connect(Entry()), 0);
    Send(LevelPacket{kLevelPacketKind, 100, {0x22}}.Build());
    ASSERT_TRUE(ServiceUntil([&] { return Stored(100, 1) == Bytes{0x22}; }));
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0));
}

}  // namespace
}  // namespace lxd::host
