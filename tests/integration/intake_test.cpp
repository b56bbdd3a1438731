#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "host/driver_library.h"
#include "host/packets.h"
#include "host/udp.h"

namespace lxd::host {
namespace {

constexpr std::uint16_t kIntakePort = 2501;

Bytes LevelDatagram(std::uint32_t start, const Bytes& levels, std::uint16_t kind = kLevelKind) {
    LevelPacket packet;
    packet.kind = kind;
    packet.start = start;
    packet.levels = levels;
    return packet.Build();
}

Bytes CodedDatagram(std::uint16_t start, const Bytes& levels) {
    BlockPacket packet;
    Block block;
    block.start = start;
    block.count = static_cast<std::uint16_t>(levels.size());
    block.data = CodedBlockData(levels);
    packet.blocks.push_back(block);
    return packet.Build();
}

// The driver loaded by path and connected to its one device, a sender aimed at
// its port, and the store read through the host's exports.
class IntakeIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(driver_.Load(DefaultDriverPath())) << driver_.Error();
        ASSERT_TRUE(sender_.Valid());
        ASSERT_TRUE(sender_.SetDestination("127.0.0.1", kIntakePort));
        ConnectDriver();
    }
    void TearDown() override {
        while (d().GetNumPorts(0) > 0) {
            d().Disconnect(0);
        }
    }

    const DriverExports& d() const { return driver_.Exports(); }

    void ConnectDriver() {
        std::vector<std::uint8_t> list(4 + 32 * 358, 0);
        ASSERT_EQ(d().ContinueDetect(0, list.data()), 1);
        ASSERT_EQ(d().Connect(list.data() + 4), 0);
    }

    void Send(const Bytes& datagram) {
        static const std::uint8_t kNothing[1] = {};
        ASSERT_TRUE(datagram.empty() ? sender_.Send(kNothing, 0) : sender_.Send(datagram));
    }

    // Levels at store addresses address .. address + n - 1.
    Bytes Stored(std::uint32_t address, std::size_t n) const {
        std::uint8_t* port = nullptr;
        const auto p = static_cast<std::int32_t>((address - 1) / 512);
        EXPECT_EQ(d().GetPortBuffer(0, p, &port), 512);
        const std::uint8_t* at = port + (address - 1) % 512;
        return Bytes(at, at + n);
    }

    // Calls ServiceDevices until `arrived` holds: loopback delivery is
    // immediate natively but may lag a little under Wine. Returns the calls.
    int ServiceUntil(const std::function<bool()>& arrived) {
        for (int calls = 1; calls <= 400; ++calls) {
            d().ServiceDevices();
            if (arrived()) {
                return calls;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }

    DriverLibrary driver_;
    UdpSocket sender_;
};

TEST_F(IntakeIntegration, SeveralDatagramsAreAppliedInArrivalOrder) {
    Send(LevelDatagram(1, Bytes(8, 0x11)));
    Send(CodedDatagram(3, Bytes(4, 0x22)));
    Send(LevelDatagram(6, Bytes{0x33}));
    Send(LevelDatagram(1000, Bytes{0x44}));

    const int calls = ServiceUntil([&] { return Stored(1000, 1) == Bytes{0x44}; });
    ASSERT_GT(calls, 0);
#if !defined(_WIN32)
    EXPECT_EQ(calls, 1);  // queued at once on Linux: one call drains them all
#endif
    EXPECT_EQ(Stored(1, 9), (Bytes{0x11, 0x11, 0x22, 0x22, 0x22, 0x33, 0x11, 0x11, 0}));
}

TEST_F(IntakeIntegration, EmptyDatagramEndsThePass) {
    Send(LevelDatagram(1, Bytes(4, 0x11)));
    Send(Bytes{});
    Send(LevelDatagram(1, Bytes(2, 0x22)));

    ASSERT_GT(ServiceUntil([&] { return Stored(1, 1) != Bytes{0}; }), 0);
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0x11));

    ASSERT_GT(ServiceUntil([&] { return Stored(1, 1) == Bytes{0x22}; }), 0);
    EXPECT_EQ(Stored(1, 4), (Bytes{0x22, 0x22, 0x11, 0x11}));
}

TEST_F(IntakeIntegration, OversizeDatagramIsNeverApplied) {
    // A level packet whose first 1,316 bytes would be valid.
    Bytes oversize = LevelDatagram(1, Bytes(1024, 0x55));
    oversize.resize(1400, 0x55);
    Send(oversize);
    Send(LevelDatagram(2000, Bytes{0x66}));

    ASSERT_GT(ServiceUntil([&] { return Stored(2000, 1) == Bytes{0x66}; }), 0);
    EXPECT_EQ(Stored(1, 1024), Bytes(1024, 0));
}

TEST_F(IntakeIntegration, DatagramsSentWhileDisconnectedAreNeverApplied) {
    d().Disconnect(0);
    ASSERT_EQ(d().GetNumPorts(0), -1);
    Send(LevelDatagram(1, Bytes(4, 0x11)));
    d().ServiceDevices();

    ConnectDriver();
    Send(LevelDatagram(100, Bytes{0x22}));
    ASSERT_GT(ServiceUntil([&] { return Stored(100, 1) == Bytes{0x22}; }), 0);
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0));
}

TEST_F(IntakeIntegration, OtherKindIsIgnoredAndTheRestApplied) {
    Send(LevelDatagram(1, Bytes(4, 0x11), 0x2030));
    Send(LevelDatagram(10, Bytes(4, 0x22)));
    Send(CodedDatagram(20, Bytes(300, 0x33)));

    ASSERT_GT(ServiceUntil([&] { return Stored(20, 300) == Bytes(300, 0x33); }), 0);
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0));
    EXPECT_EQ(Stored(10, 4), Bytes(4, 0x22));
}

}  // namespace
}  // namespace lxd::host
