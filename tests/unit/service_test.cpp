#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "tests/support/intake_scenarios.h"
#include "tests/support/packets.h"
#include "tests/unit/driver_test.h"

namespace lxd {
namespace {

using fake::Call;
using test::Bytes;

class ServiceTest : public test::DriverTest {
  protected:
    Bytes Stored(std::uint32_t address, std::size_t n) {
        return Bytes(driver.Store() + address - 1, driver.Store() + address - 1 + n);
    }
    std::deque<Bytes>& Queue() { return fake::Platform().datagrams; }
};

class ServiceScenarioTest : public ServiceTest,
                            public ::testing::WithParamInterface<test::IntakeScenario> {};

// Every datagram waits at once: each pass drains until nothing waits or a
// datagram ends it, and the scenario's passes take them all.
TEST_P(ServiceScenarioTest, PassesTakeEveryDatagram) {
    const test::IntakeScenario& s = GetParam();
    ConnectOnce();
    Queue().assign(s.datagrams.begin(), s.datagrams.end());
    for (int pass = 1; pass <= s.passes; ++pass) {
        EXPECT_FALSE(Queue().empty()) << "taken before pass " << pass;
        driver.ServiceDevices();
    }
    EXPECT_TRUE(Queue().empty());
    for (const test::StoreRegion& r : s.expected) {
        EXPECT_EQ(Stored(r.address, r.levels.size()), r.levels) << "at address " << r.address;
    }
}

INSTANTIATE_TEST_SUITE_P(Service, ServiceScenarioTest, ::testing::ValuesIn(test::IntakeScenarios()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ServiceTest, OnePassReceivesUntilNothingWaits) {
    ConnectOnce();
    Queue().assign(4, test::LevelPacket{kLevelPacketKind, 1, {1}}.Build());
    driver.ServiceDevices();
    EXPECT_EQ(fake::Platform().Count(Call::kReceiveDatagram), 5u);  // the last one would block
}

TEST_F(ServiceTest, NothingIsReceivedWhileDisconnected) {
    Queue().push_back(test::LevelPacket{kLevelPacketKind, 1, Bytes(4, 0x11)}.Build());
    driver.ServiceDevices();

    ConnectOnce();
    driver.Disconnect(0);
    driver.ServiceDevices();

    EXPECT_EQ(fake::Platform().Count(Call::kReceiveDatagram), 0u);
    EXPECT_EQ(Queue().size(), 1u);
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0));
}

TEST_F(ServiceTest, NothingWaitingReturnsAfterOneReceive) {
    ConnectOnce();
    driver.Store()[5] = 9;
    driver.ServiceDevices();
    EXPECT_EQ(fake::Platform().Count(Call::kReceiveDatagram), 1u);
    EXPECT_EQ(driver.Store()[5], 9);
}

}  // namespace
}  // namespace lxd
