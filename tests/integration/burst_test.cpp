// A second of full traffic queued while the host is busy: one ServiceDevices
// call must then apply every datagram, so that each port ends on its last frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/integration/loaded_driver.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace lxd::host {
namespace {

constexpr int kFrames = 44;  // one second at 44 Hz
constexpr int kRequest = 4 * 1024 * 1024;
constexpr int kDatagramBytes = 66 + kChannelsPerPort;
// What one queued datagram costs against the granted size. Linux charges the
// whole socket buffer (payload, headers and bookkeeping: about 1,300 bytes for
// 578 on loopback) against a limit that it reports doubled; this stays well on
// the safe side of that.
constexpr int kCostPerDatagram = 2 * (kDatagramBytes + 512);

// The receive buffer that the system grants a UDP socket asking for 4 MiB,
// as the driver's Connect asks: -1 when it cannot be read.
int GrantedForRequest() {
#if defined(_WIN32)
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    int bytes = kRequest;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
    int length = sizeof bytes;
    const int result =
        getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &length);
    closesocket(s);
#else
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        return -1;
    }
    int bytes = kRequest;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    socklen_t length = sizeof bytes;
    const int result = getsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, &length);
    close(s);
#endif
    return result == 0 ? bytes : -1;
}

#if !defined(_WIN32)
// Datagrams the kernel dropped on the UDP 2501 socket (last field of its line
// in /proc/net/udp), or -1 when there is no such socket.
long KernelDrops() {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // column titles
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if (local.size() > 5 && local.compare(local.size() - 5, 5, ":09C5") == 0) {
            std::string field, last;
            while (fields >> field) {
                last = field;
            }
            return std::stol(last);
        }
    }
    return -1;
}
#endif

using BurstIntegration = LoadedDriver;

TEST_F(BurstIntegration, OneServiceCallAppliesASecondOfQueuedFrames) {
    const int granted = GrantedForRequest();
    ASSERT_GT(granted, 0) << "the granted receive buffer cannot be read";
    const int wanted = kNumPorts * kFrames;
    const int fit = std::min(wanted, granted / kCostPerDatagram);
    // Every port takes the same number of frames; with room for fewer than
    // 36 datagrams, fewer ports take one frame each.
    const int frames = std::max(1, fit / kNumPorts);
    const int ports = std::min(kNumPorts, fit);
    ASSERT_GT(ports, 0) << "a receive buffer of " << granted << " bytes holds no datagram";
    std::printf(
        "[ burst    ] granted receive buffer %d bytes for a request of %d; "
        "%d datagrams of %d bytes need about %d\n",
        granted, kRequest, wanted, kDatagramBytes, wanted * kCostPerDatagram);
    if (ports * frames < wanted) {
        std::printf(
            "[ burst    ] REDUCED: the granted buffer holds %d datagrams, so %d ports x "
            "%d frames are sent instead of %d x %d (raise net.core.rmem_max to run "
            "the full burst)\n",
            fit, ports, frames, kNumPorts, kFrames);
    } else {
        std::printf("[ burst    ] full burst: %d ports x %d frames\n", kNumPorts, kFrames);
    }

    ASSERT_TRUE(Connect());
    d().ServiceDevices();  // nothing should wait; start from an empty queue
#if !defined(_WIN32)
    const long dropsBefore = KernelDrops();
#endif

    UdpSocket sender;
    AimAtDriver(sender);
    sender.RequestSendBuffer(kRequest);
    int sent = 0;
    for (int f = 0; f < frames; ++f) {
        for (int p = 0; p < ports; ++p) {
            sent += sender.Send(PortPacket(p, PortLevels(p, f))) ? 1 : 0;
        }
    }
    ASSERT_EQ(sent, ports * frames) << "the system refused some sends";

    const std::vector<std::uint8_t> before = Store();
    d().ServiceDevices();
    const std::vector<std::uint8_t> after = Store();
    for (int p = 0; p < kNumPorts; ++p) {
        const std::vector<std::uint8_t> expected =
            p < ports ? PortLevels(p, frames - 1)
                      : std::vector<std::uint8_t>(before.begin() + p * kChannelsPerPort,
                                                  before.begin() + (p + 1) * kChannelsPerPort);
        EXPECT_TRUE(
            std::equal(expected.begin(), expected.end(), after.begin() + p * kChannelsPerPort))
            << "port " << p << " does not hold its last frame";
    }
#if !defined(_WIN32)
    const long dropsAfter = KernelDrops();
    ASSERT_GE(dropsBefore, 0) << "no UDP 2501 socket in /proc/net/udp";
    EXPECT_EQ(dropsAfter, dropsBefore) << "the kernel dropped datagrams of the burst";
#endif

    // The one call drained the queue: the next finds nothing.
    d().ServiceDevices();
    EXPECT_EQ(FirstDifference(Store(), after), -1);
}

}  // namespace
}  // namespace lxd::host
