#include "tests/support/datagram_samples.h"

#include <random>

#include "protocol/pack.h"

namespace lxd::test {
namespace {

Bytes Cut(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

void LevelSamples(std::vector<NamedDatagram>& s) {
    s.push_back({"level-port0", LevelDatagram(1, SampleLevels(512, 3))});
    s.push_back({"level-across-ports", LevelDatagram(400, SampleLevels(200, 9))});
    s.push_back({"level-store-end", LevelDatagram(17409, SampleLevels(1024, 1))});
    s.push_back({"level-past-end", LevelDatagram(17410, SampleLevels(1024, 1))});
    s.push_back({"level-count-too-big", LevelDatagram(1, SampleLevels(8, 1), 1025)});
    s.push_back({"level-short", LevelDatagram(1, SampleLevels(10, 1), 100)});
    s.push_back({"level-short-by-one", LevelDatagram(9000, SampleLevels(99, 2), 100)});
    s.push_back({"level-zero", LevelDatagram(1, {})});
    s.push_back({"level-zero-at-end", LevelDatagram(18433, {})});
    s.push_back({"level-zero-past-end", LevelDatagram(18434, {})});
    s.push_back({"level-last-address", LevelDatagram(18432, {0x5A})});
    s.push_back({"level-start-zero", LevelDatagram(0, SampleLevels(16, 4))});
    s.push_back({"level-trailing-bytes", LevelDatagram(700, SampleLevels(20, 5), 10)});
    s.push_back({"level-header-short", Cut(LevelDatagram(1, SampleLevels(4, 6)), 65)});
    s.push_back({"level-count-field-only", Cut(LevelDatagram(1, SampleLevels(4, 6)), 10)});
    // 66 + 1,250 bytes: the receive limit exactly, and one byte over it.
    s.push_back({"level-receive-limit", LevelDatagram(1, SampleLevels(1250, 7), 1024)});
    s.push_back({"level-over-receive-limit", LevelDatagram(1, SampleLevels(1251, 7), 1024)});
    s.push_back({"wrong-kind", LevelDatagram(1, SampleLevels(16, 1), -1, 0x2030)});
}

void BlockSamples(std::vector<NamedDatagram>& s) {
    s.push_back({"block-uncoded", BlockDatagram({Block{1, 512, SampleLevels(512, 4)}})});
    s.push_back(
        {"block-coded", BlockDatagram({Block{1, 512, CodedBlockData(SampleLevels(512, 5))}})});
    s.push_back({"block-run", BlockDatagram({Block{1, 4, {0x84, 0x7F}}})});
    s.push_back({"block-store-end",
                 BlockDatagram({Block{17921, 512, CodedBlockData(SampleLevels(512, 6))}})});
    // A run that overshoots its block at the very end of the store.
    s.push_back({"block-overshoot", BlockDatagram({Block{18430, 3, {0xFF, 0x11}}})});
    s.push_back({"block-overshoot-mid-store", BlockDatagram({Block{100, 3, {0x85, 0x07}}})});
    s.push_back(
        {"block-four", BlockDatagram({Block{1, 100, CodedBlockData(SampleLevels(100, 1))},
                                      Block{18000, 500, SampleLevels(20, 2)},
                                      Block{5000, 40, SampleLevels(40, 3)},
                                      Block{9000, 300, CodedBlockData(SampleLevels(300, 4))}})});
    s.push_back({"block-far-offsets",
                 BlockDatagram({Block{1, 64, SampleLevels(64, 7)}}, {1200, 0xFFFF, 0, 0, 0})});
    s.push_back({"block-offsets-backwards",
                 BlockDatagram({Block{1, 4, SampleLevels(12, 8)}}, {10, 4, 0, 0, 0})});
    s.push_back(
        {"block-data-past-end",
         BlockDatagram({Block{1, 8, SampleLevels(8, 9)}, Block{600, 8, {}}}, {0, 8, 12, 0, 0})});
    s.push_back({"block-list-ends-at-offset",
                 BlockDatagram({Block{1, 4, {}}, Block{513, 2, {1, 2}}}, {0, 0, 2, 0, 0})});
    s.push_back({"block-gap-in-list", BlockDatagram({Block{1, 2, {1, 2}}, Block{0, 2, {3, 4}},
                                                     Block{1025, 2, {5, 6}}})});
    s.push_back({"block-past-store-then-valid",
                 BlockDatagram({Block{18000, 500, {1}}, Block{2000, 3, {7, 8, 9}}})});
    s.push_back({"block-count-zero-coded", BlockDatagram({Block{3000, 0, {0x83, 0x55}}})});
    s.push_back(
        {"block-count-zero-raw",
         BlockDatagram({Block{3000, 0, {}}, Block{3100, 1, {0xEE, 0x44}}}, {1, 1, 2, 0, 0})});
    // A code exactly as long as the count is taken as raw levels.
    s.push_back({"block-code-as-long-as-count", BlockDatagram({Block{4000, 2, {0x82, 0x10}}})});
    s.push_back({"block-cut-run", BlockDatagram({Block{1, 3, {0x83}}})});
    s.push_back({"block-cut-literal", BlockDatagram({Block{1, 7, {0x02, 7, 8, 0x05, 1}}})});
    s.push_back(
        {"block-zero-count-codes", BlockDatagram({Block{50, 2, {0x80, 0x41, 0x00, 0x82, 0x09}}})});
    s.push_back({"block-codes-short", BlockDatagram({Block{60, 10, {0x83, 0x01}}})});
    s.push_back(
        {"block-extra-codes", BlockDatagram({Block{70, 3, {0x83, 0x02, 0x84, 0x03, 0x01}}})});
    s.push_back(
        {"block-overlap", BlockDatagram({Block{200, 8, SampleLevels(8, 10)},
                                         Block{204, 8, CodedBlockData(SampleLevels(8, 11))}})});
    s.push_back({"block-receive-limit", BlockDatagram({Block{1, 1280, SampleLevels(1280, 12)}})});
    s.push_back(
        {"block-over-receive-limit", BlockDatagram({Block{1, 1281, SampleLevels(1281, 12)}})});
    s.push_back({"block-header-only", BlockDatagram({Block{1, 0, {}}})});
    s.push_back({"block-header-short", Cut(BlockDatagram({Block{1, 0, {}}}), 35)});
    s.push_back({"block-start-zero", BlockDatagram({Block{0, 4, {0x84, 0x01}}})});
    s.push_back({"empty", Bytes{}});
    s.push_back({"one-byte", Bytes{0x80}});
    s.push_back({"kind-only", Bytes{0x80, 0x8F}});
}

// Seeded random numbers below a bound.
class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(engine_() % n); }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Below(256)); }

  private:
    std::mt19937 engine_;
};

// Levels with long runs now and then, so that coded blocks come out short.
Bytes RandomLevels(Random& random, std::size_t n) {
    Bytes levels(n);
    for (std::size_t i = 0; i < n;) {
        const std::size_t run = random.OneIn(3) ? 1 + random.Below(40) : 1;
        const std::uint8_t value = random.Byte();
        for (std::size_t k = 0; k < run && i < n; ++k) {
            levels[i++] = value;
        }
    }
    return levels;
}

Bytes RandomLevelPacket(Random& random) {
    LevelPacket packet;
    const std::uint32_t count = random.OneIn(4) ? 1020 + random.Below(8) : random.Below(600);
    // No start, the first, any, or one at the store's end (fitting or not).
    const std::uint32_t starts[] = {0, 1, random.Below(18500), 18432 - count + random.Below(3)};
    packet.start = starts[random.Below(4)];
    packet.countField = static_cast<std::int32_t>(count);
    const std::uint32_t slack = random.Below(7);  // up to three levels short or over
    packet.levels = RandomLevels(random, count + slack < 3 ? 0 : count + slack - 3);
    packet.filler = random.Byte();
    return packet.Build();
}

Bytes RandomBlockPacket(Random& random) {
    BlockPacket packet;
    const std::uint32_t blocks = 1 + random.Below(4);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        Block block;
        const std::uint32_t count = random.OneIn(5) ? random.Below(4) : random.Below(400);
        const std::uint32_t starts[] = {0, 1 + random.Below(18432), 18433 - count + random.Below(3),
                                        1 + random.Below(2048)};
        block.count = static_cast<std::uint16_t>(count);
        block.start = static_cast<std::uint16_t>(starts[random.OneIn(5) ? 0 : 1 + random.Below(3)]);
        const Bytes levels = RandomLevels(random, count);
        block.data = random.OneIn(3) ? levels : CodedBlockData(levels);
        if (!block.data.empty() && random.OneIn(4)) {  // damage the code
            const auto size = static_cast<std::uint32_t>(block.data.size());
            block.data[random.Below(size)] = random.Byte();
            block.data.resize(size - random.Below(size / 2 + 1));
        }
        packet.blocks.push_back(block);
    }
    Bytes datagram = packet.Build();
    if (random.OneIn(4)) {  // one data offset (or the data end) set astray
        const std::uint32_t values[] = {0, 0xFFFF, random.Below(1400)};
        const std::uint32_t value = values[random.Below(3)];
        const std::uint32_t at = kBlockDataOffsetOffset + 2 * random.Below(5);
        WriteLittle16(datagram.data() + at, value);
    }
    if (random.OneIn(8)) {
        datagram.resize(random.Below(static_cast<std::uint32_t>(datagram.size()) + 1));
    }
    return datagram;
}

Bytes RandomNoise(Random& random) {
    Bytes noise(random.OneIn(2) ? random.Below(80) : random.Below(1400));
    for (std::uint8_t& byte : noise) {
        byte = random.Byte();
    }
    if (noise.size() >= 2 && random.OneIn(2)) {
        const bool level = random.OneIn(2);
        noise[0] = level ? 0x20 : 0x80;
        noise[1] = level ? 0x2F : 0x8F;
    }
    return noise;
}

}  // namespace

Bytes SampleLevels(std::size_t n, unsigned seed) {
    Bytes levels(n);
    for (std::size_t i = 0; i < n; ++i) {
        levels[i] = static_cast<std::uint8_t>((i / 5 % 3 == 0) ? seed : i * 7 + seed);
    }
    return levels;
}

std::vector<NamedDatagram> DatagramSamples() {
    std::vector<NamedDatagram> samples;
    LevelSamples(samples);
    BlockSamples(samples);
    return samples;
}

std::vector<NamedDatagram> RandomDatagrams(std::uint32_t seed, int n) {
    std::vector<NamedDatagram> datagrams;
    Random random(seed);
    for (int i = 0; i < n; ++i) {
        const int pick = i % 6;
        datagrams.push_back({"random-" + std::to_string(i), pick == 0 ? RandomNoise(random)
                                                            : pick == 1
                                                                ? RandomLevelPacket(random)
                                                                : RandomBlockPacket(random)});
    }
    return datagrams;
}

}  // namespace lxd::test
