#include <gtest/gtest.h>

#include <vector>

#include "tools/common/driver_library.h"

namespace lxd::host {
namespace {

TEST(ConnectionIntegration, DetectedEntryConnectsAndShowsThirtySixPorts) {
    DriverLibrary driver;
    ASSERT_TRUE(driver.Load(DefaultDriverPath())) << driver.Error();
    const DriverExports& d = driver.Exports();
    std::vector<std::uint8_t> list(4 + 32 * 358, 0);
    EXPECT_EQ(d.ContinueDetect(0, list.data()), 1);
    ASSERT_EQ(d.Connect(list.data() + 4), 0);
    EXPECT_EQ(d.GetNumPorts(0), 36);
    EXPECT_EQ(d.GetNumChannels(0, 35), 512);
    d.Disconnect(0);
    EXPECT_EQ(d.GetNumPorts(0), -1);
}

}  // namespace
}  // namespace lxd::host
