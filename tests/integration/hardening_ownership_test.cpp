// While the driver is connected no other socket takes UDP 2501, not even one
// that asks for address reuse; once it disconnects, such a socket can.
#include <gtest/gtest.h>

#include "tests/integration/hardening_driver.h"

namespace lxd::hardening {
namespace {

using HardeningOwnership = DriverTest;

TEST_F(HardeningOwnership, ReuseAddressCannotTakeThePortWhileConnected) {
    ASSERT_TRUE(Connect());
    {
        host::UdpSocket intruder;
        ASSERT_TRUE(intruder.Valid());
        EXPECT_FALSE(intruder.Bind(kPort, /*reuse=*/true))
            << "another socket bound UDP 2501 with address reuse while the driver held it";
        host::UdpSocket plain;
        EXPECT_FALSE(plain.Bind(kPort));
    }

    // The driver still receives what is sent to the port.
    host::UdpSocket sender;
    AimAtDriver(sender);
    const std::vector<std::uint8_t> levels = PortLevels(3, 1);
    ASSERT_TRUE(sender.Send(PortPacket(3, levels)));
    d().ServiceDevices();
    std::uint8_t* store = nullptr;
    ASSERT_EQ(d().GetPortBuffer(0, 3, &store), kChannels);
    EXPECT_TRUE(std::equal(levels.begin(), levels.end(), store));

    // Released with the last connection: the same kind of socket now binds,
    // so the refusal above came from the driver's hold.
    d().Disconnect(0);
    host::UdpSocket after;
    EXPECT_TRUE(after.Bind(kPort, /*reuse=*/true));
}

}  // namespace
}  // namespace lxd::hardening
