#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/integration/loaded_driver.h"

namespace lxd::host {
namespace {

using ConnectionIntegration = LoadedDriver;

// Runs ServiceDevices on a second thread; a blocking intake socket would never
// let it return, so the whole program gives up after a few seconds.
void ExpectServiceReturnsAtOnce(const DriverExports& d) {
    std::atomic<bool> done{false};
    std::thread service([&] {
        d.ServiceDevices();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!done) {
        std::fprintf(stderr, "ServiceDevices blocked with nothing waiting: the socket blocks\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    service.join();
}

TEST_F(ConnectionIntegration, DetectedEntryConnectsAndShowsThirtySixPorts) {
    EXPECT_EQ(d().GetNumPorts(0), -1);
    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_EQ(d().GetNumPorts(0), 36);
    EXPECT_EQ(d().GetNumChannels(0, 35), 512);
    d().Disconnect(0);
    EXPECT_EQ(d().GetNumPorts(0), -1);
    EXPECT_EQ(d().GetNumChannels(0, 35), 0);
}

TEST_F(ConnectionIntegration, ConnectHoldsThePortOnEveryAddressWithoutBlocking) {
    ASSERT_TRUE(PortIsFree()) << "UDP 2501 is held by another program";
    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_FALSE(PortIsFree());

    ExpectServiceReturnsAtOnce(d());
    ExpectServiceReturnsAtOnce(d());

    // Bound to every address: datagrams to two different loopback addresses
    // both arrive.
    SendLevels(1, {11});
    EXPECT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 0) == 11; }));
    SendLevels(2, {22}, "127.0.0.2");
    EXPECT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 1) == 22; }));
    ExpectServiceReturnsAtOnce(d());
}

TEST_F(ConnectionIntegration, PortHeldElsewhereRefusesConnectAndStaysClosed) {
    UdpSocket holder;
    ASSERT_TRUE(holder.Bind(kIntakePort)) << "UDP 2501 is held by another program";

    for (int attempt = 0; attempt < 2; ++attempt) {
#if !defined(_WIN32)
        ::testing::internal::CaptureStderr();
#endif
        EXPECT_EQ(d().Connect(Entry()), -1);
#if !defined(_WIN32)
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Error in Connect\n");
#endif
        EXPECT_EQ(d().GetNumPorts(0), -1);
        EXPECT_EQ(d().GetNumChannels(0, 0), 0);
        std::uint8_t levels[4] = {9, 9, 9, 9};
        EXPECT_EQ(d().GetChannels(0, 0, 0, levels, 4), -1);
    }

    // Still Closed, not stuck: once the port is free the next Connect opens it.
    holder.Close();
    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_EQ(d().GetNumPorts(0), 36);
    EXPECT_FALSE(PortIsFree());
    d().Disconnect(0);
}

TEST_F(ConnectionIntegration, OnlyTheLastDisconnectClosesAndReconnectOpensANewSocket) {
    ASSERT_EQ(d().Connect(Entry()), 0);
    ASSERT_EQ(d().Connect(Entry()), 0);

    d().Disconnect(1);
    d().Disconnect(0);
    EXPECT_FALSE(PortIsFree());
    EXPECT_EQ(d().GetNumPorts(0), 36);
    SendLevels(10, {1, 2, 3});
    EXPECT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 11) == 3; }));

    d().Disconnect(0);
    EXPECT_TRUE(PortIsFree());
    EXPECT_EQ(d().GetNumPorts(0), -1);
    d().Disconnect(0);  // nothing left to drop
    EXPECT_TRUE(PortIsFree());

    ASSERT_EQ(d().Connect(Entry()), 0);
    EXPECT_FALSE(PortIsFree());
    EXPECT_EQ(d().GetChannel(0, 0, 11), 3);  // levels from before are kept
    SendLevels(10, {4, 5, 6});
    EXPECT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 11) == 6; }));
}

TEST_F(ConnectionIntegration, RefusedNameLeavesAnOpenConnectionWorking) {
    ASSERT_EQ(d().Connect(Entry()), 0);
    std::vector<std::uint8_t> entry(kDeviceEntrySize, 0);
    std::memcpy(entry.data() + 2, "dravik valtrix", 15);
#if !defined(_WIN32)
    ::testing::internal::CaptureStderr();
#endif
    EXPECT_EQ(d().Connect(entry.data()), -1);
    EXPECT_EQ(d().Connect(nullptr), -1);
#if !defined(_WIN32)
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Error in Connect\nError: Error in Connect\n");
#endif
    EXPECT_EQ(d().GetNumPorts(0), 36);
    SendLevels(1, {77});
    EXPECT_TRUE(ServiceUntil([&] { return d().GetChannel(0, 0, 0) == 77; }));
    // One connection was open, so one Disconnect closes it.
    d().Disconnect(0);
    EXPECT_TRUE(PortIsFree());
}

// A host may pass device numbers and host words as 32-bit values: only their
// low 16 bits count.
TEST_F(ConnectionIntegration, WideArgumentsAreCutToSixteenBits) {
    using WideDetect = std::int32_t (*)(std::uint32_t, void*);
    using WideDevice = std::int32_t (*)(std::uint32_t);
    using WideDisconnect = void (*)(std::uint32_t);
    WideDetect detect;
    WideDevice numPorts;
    WideDisconnect disconnect;
    void* symbol = driver_.Symbol("ContinueDetect");
    std::memcpy(&detect, &symbol, sizeof symbol);
    symbol = driver_.Symbol("GetNumPorts");
    std::memcpy(&numPorts, &symbol, sizeof symbol);
    symbol = driver_.Symbol("Disconnect");
    std::memcpy(&disconnect, &symbol, sizeof symbol);

    DetectionList list;
    EXPECT_EQ(detect(0xABCDFFFFu, list.bytes.data()), 1);
    EXPECT_EQ(list.bytes[4], 0xFF);
    EXPECT_EQ(list.bytes[5], 0xFF);
    EXPECT_EQ(list.bytes[6], 'D');

    ASSERT_EQ(d().Connect(list.Entry()), 0);
    EXPECT_EQ(numPorts(0x10000u), 36);
    EXPECT_EQ(numPorts(0x10001u), -1);
    disconnect(0x20001u);
    EXPECT_EQ(d().GetNumPorts(0), 36);
    disconnect(0x10000u);
    EXPECT_EQ(d().GetNumPorts(0), -1);
    EXPECT_TRUE(PortIsFree());
}

}  // namespace
}  // namespace lxd::host
