#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "tests/unit/driver_test.h"

namespace lxd {
namespace {

using fake::Call;

using host::DeviceEntry;

const std::vector<std::string> kConnectError = {"Error in Connect"};

class ConnectionTest : public test::DriverTest {
  protected:
    void ExpectClosed() {
        EXPECT_EQ(driver.ConnectionCount(), 0);
        EXPECT_EQ(driver.IntakeSocket(), platform::kInvalidSocket);
        EXPECT_EQ(driver.ChannelsPerPort(), 0);
        EXPECT_EQ(driver.GetNumPorts(0), -1);
    }
    void ExpectOpen(std::int32_t count, platform::Socket socket) {
        EXPECT_EQ(driver.ConnectionCount(), count);
        EXPECT_EQ(driver.IntakeSocket(), socket);
        EXPECT_EQ(driver.ChannelsPerPort(), kChannelsPerPort);
        EXPECT_EQ(driver.GetNumPorts(0), 36);
    }

    const std::vector<std::uint8_t> good_ = DeviceEntry();
};

TEST_F(ConnectionTest, FirstConnectOpensBindsAndUnblocksOneSocket) {
    ExpectClosed();
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    auto& f = fake::Platform();
    ASSERT_EQ(f.Count(Call::kOpenUdpSocket), 1u);
    const platform::Socket socket = f.calls.front().socket;
    ExpectOpen(1, socket);
    EXPECT_EQ(f.Count(Call::kBindAnyAddress), 1u);
    EXPECT_EQ(f.Count(Call::kSetNonBlocking), 1u);
    for (const fake::CallRecord& r : f.calls) {
        EXPECT_EQ(r.socket, socket);
    }
    EXPECT_TRUE(f.Messages().empty());
    EXPECT_EQ(driver.GetNumChannels(0, 0), 512);
}

TEST_F(ConnectionTest, LaterConnectsCountOnTheSameSocketAndOnlyTheLastDisconnectCloses) {
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    const platform::Socket socket = driver.IntakeSocket();
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    EXPECT_EQ(fake::Platform().Count(Call::kOpenUdpSocket), 1u);
    ExpectOpen(3, socket);

    driver.Disconnect(0);
    driver.Disconnect(0);
    ExpectOpen(1, socket);
    EXPECT_EQ(fake::Platform().Count(Call::kCloseSocket), 0u);

    driver.Disconnect(0);
    ExpectClosed();
    ASSERT_EQ(fake::Platform().Count(Call::kCloseSocket), 1u);
    EXPECT_EQ(fake::Platform().calls.back().socket, socket);

    // Nothing left to drop: the count never goes below 0.
    driver.Disconnect(0);
    ExpectClosed();
    EXPECT_EQ(fake::Platform().Count(Call::kCloseSocket), 1u);
}

TEST_F(ConnectionTest, ReconnectAfterLastDisconnectOpensANewSocket) {
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    const platform::Socket first = driver.IntakeSocket();
    driver.Disconnect(0);
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    EXPECT_EQ(fake::Platform().Count(Call::kOpenUdpSocket), 2u);
    EXPECT_NE(driver.IntakeSocket(), first);
    ExpectOpen(1, driver.IntakeSocket());
}

TEST_F(ConnectionTest, DisconnectWithoutConnectionDoesNothing) {
    driver.Disconnect(0);
    ExpectClosed();
    EXPECT_TRUE(fake::Platform().calls.empty());
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    EXPECT_EQ(driver.ConnectionCount(), 1);
}

TEST_F(ConnectionTest, DisconnectOfAnotherDeviceChangesNothing) {
    ASSERT_EQ(driver.Connect(good_.data()), 0);
    const platform::Socket socket = driver.IntakeSocket();
    for (const std::uint16_t device : {1, 2, 0x8000, 0xFFFF}) {
        driver.Disconnect(device);
    }
    ExpectOpen(1, socket);
    EXPECT_EQ(fake::Platform().Count(Call::kCloseSocket), 0u);
}

TEST_F(ConnectionTest, OnlyTheNameFieldIsRead) {
    // Every other byte of the entry, host word and address included, is junk,
    // and so are the bytes behind the name's terminator.
    std::vector<std::uint8_t> entry = DeviceEntry(kDeviceName, 0xEE);
    ASSERT_EQ(driver.Connect(entry.data()), 0);
    EXPECT_EQ(driver.ConnectionCount(), 1);
}

struct SocketFault {
    const char* name;
    bool fake::FakePlatform::*fault;
    bool socketCreated;
};

class ConnectFaultTest : public ConnectionTest,
                         public ::testing::WithParamInterface<SocketFault> {};

TEST_P(ConnectFaultTest, FailureClosesTheCreatedSocketAndStaysClosed) {
    const SocketFault& c = GetParam();
    auto& f = fake::Platform();
    f.*c.fault = true;

    EXPECT_EQ(driver.Connect(good_.data()), -1);
    EXPECT_EQ(f.Messages(), kConnectError);
    ExpectClosed();
    if (c.socketCreated) {
        ASSERT_EQ(f.Count(Call::kCloseSocket), 1u);
        EXPECT_EQ(f.calls.back().call, Call::kShowMessage);
        const fake::CallRecord& close = f.calls[f.calls.size() - 2];
        EXPECT_EQ(close.call, Call::kCloseSocket);
        EXPECT_EQ(close.socket, f.calls.front().socket);
    } else {
        EXPECT_EQ(f.Count(Call::kCloseSocket), 0u);
        EXPECT_EQ(f.Count(Call::kBindAnyAddress), 0u);
    }

    // The host may try again once the fault has gone.
    f.*c.fault = false;
    EXPECT_EQ(driver.Connect(good_.data()), 0);
    EXPECT_EQ(driver.ConnectionCount(), 1);
    EXPECT_EQ(f.Messages().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Connection, ConnectFaultTest,
    ::testing::Values(SocketFault{"Socket", &fake::FakePlatform::failOpen, false},
                      SocketFault{"Bind", &fake::FakePlatform::failBind, true},
                      SocketFault{"NonBlocking", &fake::FakePlatform::failNonBlocking, true}),
    [](const ::testing::TestParamInfo<SocketFault>& info) { return info.param.name; });

TEST_F(ConnectionTest, RefusedSocketOptionsDoNotFailConnect) {
    fake::Platform().failReceiveBuffer = true;
    fake::Platform().failClaimPort = true;
    EXPECT_EQ(driver.Connect(good_.data()), 0);
    EXPECT_TRUE(fake::Platform().Messages().empty());
    EXPECT_EQ(driver.ConnectionCount(), 1);
}

// Names that differ from the device name: refused with one message whether or
// not a connection is open, and nothing is touched.
class ConnectNameTest : public ConnectionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ConnectNameTest, RefusedWithoutTouchingState) {
    const std::vector<std::uint8_t> entry = DeviceEntry(GetParam());
    EXPECT_EQ(driver.Connect(entry.data()), -1);
    EXPECT_EQ(fake::Platform().Messages(), kConnectError);
    EXPECT_EQ(fake::Platform().calls.size(), 1u);
    ExpectClosed();

    ASSERT_EQ(driver.Connect(good_.data()), 0);
    const platform::Socket socket = driver.IntakeSocket();
    fake::Platform().calls.clear();
    EXPECT_EQ(driver.Connect(entry.data()), -1);
    EXPECT_EQ(fake::Platform().Messages(), kConnectError);
    EXPECT_EQ(fake::Platform().calls.size(), 1u);
    ExpectOpen(1, socket);
}

INSTANTIATE_TEST_SUITE_P(Connection, ConnectNameTest,
                         ::testing::Values("dravik valtrix", "DRAVIK VALTRIX", "Dravik valtrix",
                                           "Dravik Valtrix ", "Dravik Valtrix2", "Dravik Valtri",
                                           " Dravik Valtrix", "", "LxDravik"));

TEST_F(ConnectionTest, NullEntryIsRefused) {
    EXPECT_EQ(driver.Connect(nullptr), -1);
    EXPECT_EQ(fake::Platform().Messages(), kConnectError);
    ExpectClosed();

    ASSERT_EQ(driver.Connect(good_.data()), 0);
    EXPECT_EQ(driver.Connect(nullptr), -1);
    EXPECT_EQ(driver.ConnectionCount(), 1);
}

}  // namespace
}  // namespace lxd
