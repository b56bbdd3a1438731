#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/module.h"
#include "lxdravik_version.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/driver_test.h"

namespace lxd {
namespace {

using fake::Call;

class ModuleTest : public test::DriverTest {
  protected:
    // Index of the first recorded call of `call`, or -1.
    long IndexOf(Call call) {
        const auto& calls = fake::Platform().calls;
        const auto it = std::find_if(calls.begin(), calls.end(),
                                     [call](const fake::CallRecord& r) { return r.call == call; });
        return it == calls.end() ? -1 : static_cast<long>(it - calls.begin());
    }

    void FillStore(std::uint8_t value) { std::memset(driver.Store(), value, kStoreSize); }
    bool StoreIsZero() {
        const std::uint8_t* s = driver.Store();
        return std::all_of(s, s + kStoreSize, [](std::uint8_t b) { return b == 0; });
    }
};

struct AttachFailure {
    const char* name;
    int startResult;
    std::uint8_t major;
    const char* message;
    std::size_t stops;  // StopSocketLayer calls on the refused load
};

class AttachFailureTest : public ModuleTest, public ::testing::WithParamInterface<AttachFailure> {};

TEST_P(AttachFailureTest, RefusesLoadWithOneMessageAndAZeroedStore) {
    const AttachFailure& c = GetParam();
    FillStore(0x5A);
    fake::Platform().startResult = c.startResult;
    fake::Platform().majorVersion = c.major;

    EXPECT_EQ(driver.OnModuleEvent(kProcessAttach), 0);
    EXPECT_EQ(fake::Platform().Messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(fake::Platform().Count(Call::kStartSocketLayer), 1u);
    EXPECT_EQ(fake::Platform().Count(Call::kStopSocketLayer), c.stops);
    EXPECT_EQ(driver.ConnectionCount(), 0);
    EXPECT_TRUE(StoreIsZero());
}

INSTANTIATE_TEST_SUITE_P(
    Module, AttachFailureTest,
    ::testing::Values(AttachFailure{"StartFails", 10091, 1, kMessageNoSocketLayer, 0},
                      AttachFailure{"StartFailsEvenWithVersionZero", 10092, 0,
                                    kMessageNoSocketLayer, 0},
                      AttachFailure{"VersionZero", 0, 0, kMessageNoLevelOne, 1}),
    [](const ::testing::TestParamInfo<AttachFailure>& info) { return info.param.name; });

TEST_F(ModuleTest, AttachSucceedsSilentlyForEveryMajorVersionFromOne) {
    for (const std::uint8_t major : {1, 2, 255}) {
        fake::Reset();
        FillStore(0xFF);
        fake::Platform().majorVersion = major;
        EXPECT_EQ(driver.OnModuleEvent(kProcessAttach), 1) << "major " << int{major};
        EXPECT_TRUE(fake::Platform().Messages().empty()) << "major " << int{major};
        EXPECT_EQ(fake::Platform().Count(Call::kStopSocketLayer), 0u);
        EXPECT_TRUE(StoreIsZero());
    }
}

TEST_F(ModuleTest, AttachLeavesSocketAndChannelsAsTheyWere) {
    ConnectOnce();
    const platform::Socket socket = driver.IntakeSocket();
    ASSERT_EQ(driver.OnModuleEvent(kProcessAttach), 1);
    EXPECT_EQ(driver.ConnectionCount(), 0);
    EXPECT_EQ(driver.IntakeSocket(), socket);
    EXPECT_EQ(driver.ChannelsPerPort(), kChannelsPerPort);
    EXPECT_EQ(fake::Platform().Count(Call::kCloseSocket), 0u);
    // Put the module back in a state TearDown can tidy.
    ConnectOnce();
}

TEST_F(ModuleTest, ThreadNotificationsAndUnknownReasonsChangeNothing) {
    ConnectOnce();
    driver.Store()[42] = 9;
    const std::size_t callsBefore = fake::Platform().calls.size();
    for (const std::uint32_t reason : {std::uint32_t{kThreadAttach}, std::uint32_t{kThreadDetach},
                                       std::uint32_t{7}, std::uint32_t{0xFFFFFFFF}}) {
        EXPECT_EQ(driver.OnModuleEvent(reason), 1) << "reason " << reason;
    }
    EXPECT_EQ(fake::Platform().calls.size(), callsBefore);
    EXPECT_EQ(driver.ConnectionCount(), 1);
    EXPECT_EQ(driver.ChannelsPerPort(), kChannelsPerPort);
    EXPECT_NE(driver.IntakeSocket(), platform::kInvalidSocket);
    EXPECT_EQ(driver.Store()[42], 9);
}

TEST_F(ModuleTest, DetachWithoutConnectionOnlyStopsSocketLayer) {
    EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);
    EXPECT_EQ(fake::Platform().Count(Call::kCloseSocket), 0u);
    EXPECT_EQ(fake::Platform().Count(Call::kStopSocketLayer), 1u);
    EXPECT_TRUE(fake::Platform().Messages().empty());
}

TEST_F(ModuleTest, DetachAfterRefusedLoadOnlyStopsSocketLayer) {
    fake::Platform().startResult = 1;
    ASSERT_EQ(driver.OnModuleEvent(kProcessAttach), 0);
    EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);
    EXPECT_EQ(fake::Platform().Count(Call::kStopSocketLayer), 1u);
    EXPECT_EQ(fake::Platform().Count(Call::kCloseSocket), 0u);
}

// However many connections are open at unload, the socket is closed before the
// socket layer stops: a socket left behind would hold UDP 2501 for the host.
TEST_F(ModuleTest, DetachClosesSocketBeforeStoppingSocketLayer) {
    for (const int connections : {1, 2, 5}) {
        SCOPED_TRACE("connections " + std::to_string(connections));
        fake::Reset();
        for (int i = 0; i < connections; ++i) {
            ConnectOnce();
        }
        const platform::Socket socket = driver.IntakeSocket();
        fake::Platform().calls.clear();

        EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);
        ASSERT_EQ(fake::Platform().Count(Call::kCloseSocket), 1u);
        EXPECT_EQ(
            fake::Platform().calls[static_cast<std::size_t>(IndexOf(Call::kCloseSocket))].socket,
            socket);
        EXPECT_LT(IndexOf(Call::kCloseSocket), IndexOf(Call::kStopSocketLayer));
        EXPECT_EQ(fake::Platform().Count(Call::kStopSocketLayer), 1u);
        EXPECT_EQ(driver.ConnectionCount(), 0);
        EXPECT_EQ(driver.IntakeSocket(), platform::kInvalidSocket);
        EXPECT_EQ(driver.ChannelsPerPort(), 0);
    }
}

TEST_F(ModuleTest, GetVersionInfoWritesExactlyFourBytesThroughEachPointer) {
    constexpr std::int32_t kGuard = static_cast<std::int32_t>(0xCCCCCCCC);
    std::int32_t first[3] = {kGuard, kGuard, kGuard};
    std::int32_t second[3] = {kGuard, kGuard, kGuard};
    driver.GetVersionInfo(&first[1], &second[1]);
    EXPECT_EQ(first[1], kVersionFirst);
    EXPECT_EQ(second[1], kVersionSecond);
    EXPECT_EQ(first[0], kGuard);
    EXPECT_EQ(first[2], kGuard);
    EXPECT_EQ(second[0], kGuard);
    EXPECT_EQ(second[2], kGuard);
}

TEST_F(ModuleTest, GetVersionInfoSkipsANullPointer) {
    std::int32_t value = -5;
    driver.GetVersionInfo(nullptr, &value);
    EXPECT_EQ(value, kVersionSecond);
    value = -5;
    driver.GetVersionInfo(&value, nullptr);
    EXPECT_EQ(value, kVersionFirst);
    driver.GetVersionInfo(nullptr, nullptr);
}

TEST_F(ModuleTest, IdentityAnswersHoldConnectedOrNot) {
    EXPECT_EQ(driver.GetDriverCaps(), 1);
    EXPECT_EQ(driver.GetDevCaps(), 1);
    ConnectOnce();
    EXPECT_EQ(driver.GetDriverCaps(), 1);
    EXPECT_EQ(driver.GetDevCaps(), 1);
}

TEST_F(ModuleTest, InitAndShutdownLeaveTheConnectionOpen) {
    ConnectOnce();
    const std::size_t callsBefore = fake::Platform().calls.size();
    driver.Shutdown();
    driver.Init();
    driver.Shutdown();
    driver.Init();
    EXPECT_EQ(fake::Platform().calls.size(), callsBefore);
    EXPECT_EQ(driver.ConnectionCount(), 1);
    EXPECT_NE(driver.IntakeSocket(), platform::kInvalidSocket);
    EXPECT_EQ(driver.ChannelsPerPort(), kChannelsPerPort);
}

}  // namespace
}  // namespace lxd
