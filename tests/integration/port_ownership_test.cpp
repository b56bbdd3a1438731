// While the driver is connected no other socket takes UDP 2501, not even one
// that asks for address reuse; once it disconnects, such a socket can.
#include <gtest/gtest.h>

#include "tests/integration/loaded_driver.h"

namespace lxd::host {
namespace {

using PortOwnershipIntegration = LoadedDriver;

TEST_F(PortOwnershipIntegration, ReuseAddressCannotTakeThePortWhileConnected) {
    ASSERT_TRUE(Connect());
    {
        UdpSocket intruder;
        ASSERT_TRUE(intruder.Valid());
        EXPECT_FALSE(intruder.Bind(kIntakePort, /*reuse=*/true))
            << "another socket bound UDP 2501 with address reuse while the driver held it";
        UdpSocket plain;
        EXPECT_FALSE(plain.Bind(kIntakePort));
    }

    // The driver still receives what is sent to the port.
    UdpSocket sender;
    AimAtDriver(sender);
    const std::vector<std::uint8_t> levels = PortLevels(3, 1);
    ASSERT_TRUE(sender.Send(PortPacket(3, levels)));
    d().ServiceDevices();
    std::uint8_t* store = nullptr;
    ASSERT_EQ(d().GetPortBuffer(0, 3, &store), kChannelsPerPort);
    EXPECT_TRUE(std::equal(levels.begin(), levels.end(), store));

    // Released with the last connection: the same kind of socket now binds,
    // so the refusal above came from the driver's hold.
    d().Disconnect(0);
    UdpSocket after;
    EXPECT_TRUE(after.Bind(kIntakePort, /*reuse=*/true));
}

}  // namespace
}  // namespace lxd::host
