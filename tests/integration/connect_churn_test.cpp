// Thousands of connect and disconnect cycles with traffic flowing: every cycle
// connects, receives, releases the port, and leaves no descriptor behind.
#include <gtest/gtest.h>

#include "tests/integration/loaded_driver.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace lxd::host {
namespace {

constexpr int kCycles = 3000;
constexpr int kStalePort = 35;  // only datagrams sent while disconnected aim here

// Open descriptors (Linux) or handles (Windows) of this process; -1 when the
// system does not tell.
long OpenHandles() {
#if defined(_WIN32)
    // Wine answers 0; a real process always holds some handles.
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0
               ? static_cast<long>(count)
               : -1;
#else
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    long n = 0;
    while (readdir(dir) != nullptr) {
        ++n;
    }
    closedir(dir);
    return n;
#endif
}

using ChurnIntegration = LoadedDriver;

TEST_F(ChurnIntegration, ThousandsOfCyclesLeakNothingAndFreeThePortEachTime) {
    UdpSocket sender;
    AimAtDriver(sender);
    const Bytes stale = PortPacket(kStalePort, std::vector<std::uint8_t>(kChannelsPerPort, 0xEE));

    // One cycle first, so that anything created once per process is in place.
    ASSERT_TRUE(Connect());
    d().Disconnect(0);
    const long handlesBefore = OpenHandles();

    for (int c = 0; c < kCycles; ++c) {
        ASSERT_TRUE(Connect()) << "cycle " << c << ": Connect failed";
        const int port = c % kStalePort;
        const std::vector<std::uint8_t> levels = PortLevels(port, c);
        ASSERT_TRUE(sender.Send(PortPacket(port, levels)));
        d().ServiceDevices();
        std::uint8_t* store = nullptr;
        ASSERT_EQ(d().GetPortBuffer(0, port, &store), kChannelsPerPort);
        ASSERT_TRUE(std::equal(levels.begin(), levels.end(), store))
            << "cycle " << c << ": the datagram was not applied";
        d().Disconnect(0);
        ASSERT_EQ(d().GetNumChannels(0, 0), 0);

        // Sent to a closed port: must never reach the store.
        sender.Send(stale);
        // The port is free again: a plain socket binds it.
        UdpSocket probe;
        ASSERT_TRUE(probe.Bind(kIntakePort)) << "cycle " << c << ": UDP 2501 still held";
        probe.Close();

        if (handlesBefore >= 0 && c % 500 == 499) {
            ASSERT_EQ(OpenHandles(), handlesBefore) << "after " << c + 1 << " cycles";
        }
    }

    const long handlesAfter = OpenHandles();
    if (handlesBefore < 0) {
        std::printf("[ churn    ] this system does not count open handles: leak not checked\n");
    } else {
        std::printf("[ churn    ] open handles: %ld before %d cycles, %ld after\n", handlesBefore,
                    kCycles, handlesAfter);
    }
    EXPECT_EQ(handlesAfter, handlesBefore);
    std::uint8_t* stalePort = nullptr;
    ASSERT_EQ(d().GetPortBuffer(0, kStalePort, &stalePort), 0);
    EXPECT_TRUE(std::all_of(stalePort, stalePort + kChannelsPerPort, [](std::uint8_t v) {
        return v == 0;
    })) << "a datagram sent while disconnected reached the store";
}

}  // namespace
}  // namespace lxd::host
