#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "driver/connection.h"
#include "driver/lxdravik.h"
#include "driver/port_store.h"
#include "platform/fake/fake_platform.h"
#include "host/packets.h"

namespace lxd {
namespace {

using fake::Call;
using host::Bytes;

Bytes LevelDatagram(std::uint32_t start, const Bytes& levels,
                    std::uint16_t kind = host::kLevelKind) {
    host::LevelPacket packet;
    packet.kind = kind;
    packet.start = start;
    packet.levels = levels;
    return packet.Build();
}

Bytes CodedDatagram(std::uint16_t start, const Bytes& levels) {
    host::BlockPacket packet;
    host::Block block;
    block.start = start;
    block.count = static_cast<std::uint16_t>(levels.size());
    block.data = host::CodedBlockData(levels);
    packet.blocks.push_back(block);
    return packet.Build();
}

Bytes Stored(std::uint32_t address, std::size_t n) {
    return Bytes(PortStore() + address - 1, PortStore() + address - 1 + n);
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        ClearPortStore();
    }
    void TearDown() override {
        DropAllConnections();
        fake::Reset();
    }

    static void ConnectDevice() {
        char entry[40] = {};
        std::memcpy(entry + 2, kDeviceName, sizeof kDeviceName);
        ASSERT_EQ(Connect(entry), 0);
    }
    static std::deque<Bytes>& Queue() { return fake::Platform().datagrams; }
};

TEST_F(ServiceTest, OneCallDrainsEveryDatagramInArrivalOrder) {
    ConnectDevice();
    Queue().push_back(LevelDatagram(1, Bytes(8, 0x11)));
    Queue().push_back(CodedDatagram(3, Bytes(4, 0x22)));
    Queue().push_back(LevelDatagram(600, Bytes(3, 0x33)));
    Queue().push_back(LevelDatagram(6, Bytes{0x44}));

    ServiceDevices();

    EXPECT_EQ(Stored(1, 9), (Bytes{0x11, 0x11, 0x22, 0x22, 0x22, 0x44, 0x11, 0x11, 0}));
    EXPECT_EQ(Stored(600, 3), Bytes(3, 0x33));
    EXPECT_TRUE(Queue().empty());
    EXPECT_EQ(fake::Platform().Count(Call::kReceiveDatagram), 5u);  // the last one would block
}

TEST_F(ServiceTest, EmptyDatagramEndsThePass) {
    ConnectDevice();
    Queue().push_back(LevelDatagram(1, Bytes(4, 0x11)));
    Queue().push_back(Bytes{});
    Queue().push_back(LevelDatagram(1, Bytes(2, 0x22)));

    ServiceDevices();
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0x11));
    ASSERT_EQ(Queue().size(), 1u);

    ServiceDevices();
    EXPECT_EQ(Stored(1, 4), (Bytes{0x22, 0x22, 0x11, 0x11}));
    EXPECT_TRUE(Queue().empty());
}

// The receive buffer holds 1,316 bytes; a longer datagram is discarded by the
// platform and ends the pass.
TEST_F(ServiceTest, LargestDatagramIsAppliedALongerOneEndsThePass) {
    ConnectDevice();
    host::BlockPacket largest;
    host::Block block;
    block.start = 1;
    block.count = 1280;
    block.data = Bytes(1280, 0x55);
    largest.blocks.push_back(block);
    ASSERT_EQ(largest.Build().size(), 1316u);
    Queue().push_back(largest.Build());
    Bytes longer = LevelDatagram(2000, Bytes(8, 0x66));
    longer.resize(1317, 0x66);
    Queue().push_back(longer);
    Queue().push_back(LevelDatagram(3000, Bytes{0x77}));

    ServiceDevices();
    EXPECT_EQ(Stored(1, 1281), [] {
        Bytes b(1280, 0x55);
        b.push_back(0);
        return b;
    }());
    EXPECT_EQ(Stored(2000, 8), Bytes(8, 0));
    EXPECT_EQ(Stored(3000, 1), Bytes{0});

    ServiceDevices();
    EXPECT_EQ(Stored(2000, 8), Bytes(8, 0));
    EXPECT_EQ(Stored(3000, 1), Bytes{0x77});
}

TEST_F(ServiceTest, OtherKindsAreSkippedAndTheRestApplied) {
    ConnectDevice();
    Queue().push_back(LevelDatagram(1, Bytes(4, 0x11), 0x2030));
    Queue().push_back(Bytes{0x80});
    Queue().push_back(LevelDatagram(10, Bytes(4, 0x22)));

    ServiceDevices();
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0));
    EXPECT_EQ(Stored(10, 4), Bytes(4, 0x22));
    EXPECT_TRUE(Queue().empty());
}

TEST_F(ServiceTest, NothingIsReceivedWhileDisconnected) {
    Queue().push_back(LevelDatagram(1, Bytes(4, 0x11)));
    ServiceDevices();

    ConnectDevice();
    Disconnect(0);
    ServiceDevices();

    EXPECT_EQ(fake::Platform().Count(Call::kReceiveDatagram), 0u);
    EXPECT_EQ(Queue().size(), 1u);
    EXPECT_EQ(Stored(1, 4), Bytes(4, 0));
}

TEST_F(ServiceTest, NothingWaitingReturnsAfterOneReceive) {
    ConnectDevice();
    PortStore()[5] = 9;
    ServiceDevices();
    EXPECT_EQ(fake::Platform().Count(Call::kReceiveDatagram), 1u);
    EXPECT_EQ(PortStore()[5], 9);
}

}  // namespace
}  // namespace lxd
