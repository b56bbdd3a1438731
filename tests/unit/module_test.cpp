#include <gtest/gtest.h>

#include "driver/connection.h"
#include "driver/lxdravik.h"
#include "driver/module.h"
#include "driver/port_store.h"
#include "platform/fake/fake_platform.h"

namespace lxd {
namespace {

using fake::Call;

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override {
        DropAllConnections();
        fake::Reset();
    }
};

TEST_F(ModuleTest, AttachFailsWithOneMessageWhenSocketLayerRefuses) {
    PortStore()[100] = 7;
    fake::Platform().startResult = 10091;
    EXPECT_EQ(ModuleEntry(kProcessAttach), 0);
    EXPECT_EQ(fake::Platform().Messages(), std::vector<std::string>{kMessageNoSocketLayer});
    EXPECT_EQ(fake::Platform().Count(Call::kStopSocketLayer), 0u);
    EXPECT_EQ(PortStore()[100], 0);
    EXPECT_EQ(ConnectionCount(), 0);
}

}  // namespace
}  // namespace lxd
