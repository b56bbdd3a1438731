// A stream of valid datagrams mixed with short, oversize, wrong-kind and empty
// ones: the valid ones are applied in order, the invalid ones change nothing,
// and each datagram that the receive reports as nothing (an empty one, or an
// oversize one that the system discards) ends a ServiceDevices pass.
#include <gtest/gtest.h>

#include <string>

#include "tests/integration/loaded_driver.h"

namespace lxd::host {
namespace {

enum class Effect { Applies, Ignored, EndsPass };

struct Datagram {
    std::string what;
    Bytes bytes;
    Effect effect;
    int port;  // the port that a valid datagram sets
    int tag;   // its levels: PortLevels(port, tag)
};

Bytes CodedPort(int port, const std::vector<std::uint8_t>& levels,
                std::uint16_t kind = kBlockPacketKind) {
    BlockPacket packet;
    packet.kind = kind;
    packet.blocks = {Block{static_cast<std::uint16_t>(port * kChannelsPerPort + 1),
                           kChannelsPerPort, CodedBlockData(levels)}};
    return packet.Build();
}

// Invalid datagram number i, aimed at `port` with levels that no valid one uses.
Datagram Invalid(int i, int port) {
    const std::vector<std::uint8_t> junk(kChannelsPerPort,
                                         static_cast<std::uint8_t>(0xE0 + i % 16));
    const auto start = static_cast<std::uint32_t>(port * kChannelsPerPort + 1);
    switch (i % 9) {
        case 0: {  // announces 512 levels, carries 100
            Bytes b = LevelDatagram(start, junk, kChannelsPerPort);
            b.resize(66 + 100);
            return {"short level packet", b, Effect::Ignored, port, 0};
        }
        case 1:  // shorter than the level header
            return {"level header cut", Bytes{0x20, 0x2F, 0, 0, 0, 0, 0, 0, 0x02, 0x00},
                    Effect::Ignored, port, 0};
        case 2: {  // block data cut off in the middle
            Bytes b = CodedPort(port, PortLevels(port, 200));
            b.resize(b.size() / 2);
            return {"short block packet", b, Effect::Ignored, port, 0};
        }
        case 3:  // 1,400 bytes: longer than the 1,316 the driver takes
            return {"oversize level packet",
                    LevelDatagram(start, std::vector<std::uint8_t>(1400 - 66, 0xEE), 512),
                    Effect::EndsPass, port, 0};
        case 4:
            return {"wrong kind (level layout)",
                    LevelDatagram(start, junk, kChannelsPerPort, 0x2030), Effect::Ignored, port, 0};
        case 5:
            return {"wrong kind (block layout)", CodedPort(port, junk, 0x808E), Effect::Ignored,
                    port, 0};
        case 6:
            return {"empty", Bytes{}, Effect::EndsPass, port, 0};
        case 7:
            return {"level count above 1,024", LevelDatagram(start, junk, 1025), Effect::Ignored,
                    port, 0};
        default:
            return {"range past the store", LevelDatagram(18432 - 100, junk, kChannelsPerPort),
                    Effect::Ignored, port, 0};
    }
}

using MixedStreamIntegration = LoadedDriver;

TEST_F(MixedStreamIntegration, ValidDatagramsApplyInOrderAndInvalidOnesChangeNothing) {
    // Valid datagrams alternate between level and coded block packets and
    // revisit ports, so a reordering shows; an invalid one follows every
    // second valid one and aims at the port just set.
    std::vector<Datagram> stream;
    int invalid = 0;
    for (int v = 0; v < 72; ++v) {
        const int port = v * 7 % kNumPorts;
        const std::vector<std::uint8_t> levels = PortLevels(port, v);
        stream.push_back({"valid " + std::to_string(v),
                          v % 2 == 0 ? PortPacket(port, levels) : CodedPort(port, levels),
                          Effect::Applies, port, v});
        if (v % 2 == 1) {
            stream.push_back(Invalid(invalid++, port));
        }
    }

    ASSERT_TRUE(Connect());
    d().ServiceDevices();
    UdpSocket sender;
    AimAtDriver(sender);
    for (const Datagram& g : stream) {
        ASSERT_TRUE(sender.Send(g.bytes)) << g.what;
    }

    // What the store must hold after each pass: the valid datagrams up to the
    // next pass end, applied in order over the store as it was.
    std::vector<std::uint8_t> model = Store();
    int passes = 0;
    std::size_t next = 0;
    while (next < stream.size()) {
        std::string applied;
        for (; next < stream.size(); ++next) {
            const Datagram& g = stream[next];
            if (g.effect == Effect::EndsPass) {
                ++next;
                break;
            }
            if (g.effect == Effect::Applies) {
                const std::vector<std::uint8_t> levels = PortLevels(g.port, g.tag);
                std::copy(levels.begin(), levels.end(), model.begin() + g.port * kChannelsPerPort);
            }
            applied = g.what;
        }
        d().ServiceDevices();
        ++passes;
        const long at = FirstDifference(Store(), model);
        ASSERT_EQ(at, -1) << "after pass " << passes << " (last datagram '" << applied
                          << "'), port " << at / kChannelsPerPort << " channel "
                          << at % kChannelsPerPort;
    }
    d().ServiceDevices();
    EXPECT_EQ(FirstDifference(Store(), model), -1) << "a pass after the stream changed the store";
}

}  // namespace
}  // namespace lxd::host
