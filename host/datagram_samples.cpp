#include "host/datagram_samples.h"

namespace lxd::host {
namespace {

Bytes Level(std::uint32_t start, const Bytes& levels, std::int32_t countField = -1,
            std::uint16_t kind = kLevelKind) {
    LevelPacket p;
    p.kind = kind;
    p.start = start;
    p.levels = levels;
    p.countField = countField;
    return p.Build();
}

Bytes Blocks(const std::vector<Block>& blocks, const std::vector<std::uint16_t>& offsets = {}) {
    BlockPacket p;
    p.blocks = blocks;
    p.offsets = offsets;
    return p.Build();
}

Bytes Cut(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

void LevelSamples(std::vector<NamedDatagram>& s) {
    s.push_back({"level-port0", Level(1, SampleLevels(512, 3))});
    s.push_back({"level-across-ports", Level(400, SampleLevels(200, 9))});
    s.push_back({"level-store-end", Level(17409, SampleLevels(1024, 1))});
    s.push_back({"level-past-end", Level(17410, SampleLevels(1024, 1))});
    s.push_back({"level-count-too-big", Level(1, SampleLevels(8, 1), 1025)});
    s.push_back({"level-short", Level(1, SampleLevels(10, 1), 100)});
    s.push_back({"level-short-by-one", Level(9000, SampleLevels(99, 2), 100)});
    s.push_back({"level-zero", Level(1, {})});
    s.push_back({"level-zero-at-end", Level(18433, {})});
    s.push_back({"level-zero-past-end", Level(18434, {})});
    s.push_back({"level-last-address", Level(18432, {0x5A})});
    s.push_back({"level-start-zero", Level(0, SampleLevels(16, 4))});
    s.push_back({"level-trailing-bytes", Level(700, SampleLevels(20, 5), 10)});
    s.push_back({"level-header-short", Cut(Level(1, SampleLevels(4, 6)), 65)});
    s.push_back({"level-count-field-only", Cut(Level(1, SampleLevels(4, 6)), 10)});
    // 66 + 1,250 bytes: the receive limit exactly, and one byte over it.
    s.push_back({"level-receive-limit", Level(1, SampleLevels(1250, 7), 1024)});
    s.push_back({"level-over-receive-limit", Level(1, SampleLevels(1251, 7), 1024)});
    s.push_back({"wrong-kind", Level(1, SampleLevels(16, 1), -1, 0x2030)});
}

void BlockSamples(std::vector<NamedDatagram>& s) {
    s.push_back({"block-uncoded", Blocks({Block{1, 512, SampleLevels(512, 4)}})});
    s.push_back({"block-coded", Blocks({Block{1, 512, CodedBlockData(SampleLevels(512, 5))}})});
    s.push_back({"block-run", Blocks({Block{1, 4, {0x84, 0x7F}}})});
    s.push_back(
        {"block-store-end", Blocks({Block{17921, 512, CodedBlockData(SampleLevels(512, 6))}})});
    // A run that overshoots its block at the very end of the store.
    s.push_back({"block-overshoot", Blocks({Block{18430, 3, {0xFF, 0x11}}})});
    s.push_back({"block-overshoot-mid-store", Blocks({Block{100, 3, {0x85, 0x07}}})});
    s.push_back({"block-four", Blocks({Block{1, 100, CodedBlockData(SampleLevels(100, 1))},
                                       Block{18000, 500, SampleLevels(20, 2)},
                                       Block{5000, 40, SampleLevels(40, 3)},
                                       Block{9000, 300, CodedBlockData(SampleLevels(300, 4))}})});
    s.push_back({"block-far-offsets",
                 Blocks({Block{1, 64, SampleLevels(64, 7)}}, {1200, 0xFFFF, 0, 0, 0})});
    s.push_back(
        {"block-offsets-backwards", Blocks({Block{1, 4, SampleLevels(12, 8)}}, {10, 4, 0, 0, 0})});
    s.push_back({"block-data-past-end",
                 Blocks({Block{1, 8, SampleLevels(8, 9)}, Block{600, 8, {}}}, {0, 8, 12, 0, 0})});
    s.push_back({"block-list-ends-at-offset",
                 Blocks({Block{1, 4, {}}, Block{513, 2, {1, 2}}}, {0, 0, 2, 0, 0})});
    s.push_back({"block-gap-in-list",
                 Blocks({Block{1, 2, {1, 2}}, Block{0, 2, {3, 4}}, Block{1025, 2, {5, 6}}})});
    s.push_back({"block-past-store-then-valid",
                 Blocks({Block{18000, 500, {1}}, Block{2000, 3, {7, 8, 9}}})});
    s.push_back({"block-count-zero-coded", Blocks({Block{3000, 0, {0x83, 0x55}}})});
    s.push_back({"block-count-zero-raw",
                 Blocks({Block{3000, 0, {}}, Block{3100, 1, {0xEE, 0x44}}}, {1, 1, 2, 0, 0})});
    // A code exactly as long as the count is taken as raw levels.
    s.push_back({"block-code-as-long-as-count", Blocks({Block{4000, 2, {0x82, 0x10}}})});
    s.push_back({"block-cut-run", Blocks({Block{1, 3, {0x83}}})});
    s.push_back({"block-cut-literal", Blocks({Block{1, 7, {0x02, 7, 8, 0x05, 1}}})});
    s.push_back({"block-zero-count-codes", Blocks({Block{50, 2, {0x80, 0x41, 0x00, 0x82, 0x09}}})});
    s.push_back({"block-codes-short", Blocks({Block{60, 10, {0x83, 0x01}}})});
    s.push_back({"block-extra-codes", Blocks({Block{70, 3, {0x83, 0x02, 0x84, 0x03, 0x01}}})});
    s.push_back({"block-overlap", Blocks({Block{200, 8, SampleLevels(8, 10)},
                                          Block{204, 8, CodedBlockData(SampleLevels(8, 11))}})});
    s.push_back({"block-receive-limit", Blocks({Block{1, 1280, SampleLevels(1280, 12)}})});
    s.push_back({"block-over-receive-limit", Blocks({Block{1, 1281, SampleLevels(1281, 12)}})});
    s.push_back({"block-header-only", Blocks({Block{1, 0, {}}})});
    s.push_back({"block-header-short", Cut(Blocks({Block{1, 0, {}}}), 35)});
    s.push_back({"block-start-zero", Blocks({Block{0, 4, {0x84, 0x01}}})});
    s.push_back({"empty", Bytes{}});
    s.push_back({"one-byte", Bytes{0x80}});
    s.push_back({"kind-only", Bytes{0x80, 0x8F}});
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

}  // namespace lxd::host
