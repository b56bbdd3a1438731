#include <gtest/gtest.h>

#include <vector>

#include "tests/integration/loaded_driver.h"

namespace lxd::host {
namespace {

using ReloadIntegration = LoadedDriver;

// A host that unloads the driver with connections still open must be able to
// load it again and connect: the unload gives UDP 2501 back.
TEST_F(ReloadIntegration, UnloadWithTwoConnectionsFreesThePortAndReloadStartsClean) {
    ASSERT_EQ(d().Connect(Entry()), 0);
    ASSERT_EQ(d().Connect(Entry()), 0);
    SendLevels(1, {5, 6, 7});
    ASSERT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 2) == 7; }));

    driver_.Unload();
    EXPECT_TRUE(PortIsFree());
    ASSERT_TRUE(driver_.Load(DefaultDriverPath())) << driver_.Error();

    // A fresh module: Closed, and every port of the store zero.
    EXPECT_EQ(d().GetNumPorts(0), -1);
    EXPECT_EQ(d().GetNumChannels(0, 0), 0);
    for (std::int32_t port = 0; port < 36; ++port) {
        ASSERT_EQ(PortBytes(port), std::vector<std::uint8_t>(512, 0)) << "port " << port;
    }

    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_EQ(d().GetNumPorts(0), 36);
    SendLevels(1, {8});
    EXPECT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 0) == 8; }));
    // One Disconnect closes it: the count did not carry over from the first load.
    d().Disconnect(0);
    EXPECT_TRUE(PortIsFree());
}

TEST_F(ReloadIntegration, ReloadAfterCleanDisconnectConnectsAgain) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(d().Connect(Entry()), 0) << "round " << round;
        d().Disconnect(0);
        Reload();
    }
    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_FALSE(PortIsFree());
}

}  // namespace
}  // namespace lxd::host
