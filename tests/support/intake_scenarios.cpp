#include "tests/support/intake_scenarios.h"

namespace lxd::test {
namespace {

// A block packet of one block of `levels` at `start`, raw or coded.
Bytes OneBlock(std::uint16_t start, const Bytes& levels, bool coded) {
    return BlockDatagram({{start, static_cast<std::uint16_t>(levels.size()),
                           coded ? CodedBlockData(levels) : levels}});
}

}  // namespace

std::vector<IntakeScenario> IntakeScenarios() {
    // The largest datagram taken (1,316 bytes) and one byte more, which is
    // discarded whole although its first 1,316 bytes would be a valid packet.
    const Bytes largest = OneBlock(3000, Bytes(1280, 0x55), false);
    Bytes largestThenUntouched(1281, 0x55);
    largestThenUntouched.back() = 0;
    Bytes longer = LevelDatagram(1, Bytes(1024, 0x66));
    longer.resize(1317, 0x66);
    return {
        {"ArrivalOrder",
         {LevelDatagram(1, Bytes(8, 0x11)), OneBlock(3, Bytes(4, 0x22), true),
          LevelDatagram(6, {0x33}), LevelDatagram(1000, {0x44})},
         {{1, {0x11, 0x11, 0x22, 0x22, 0x22, 0x33, 0x11, 0x11, 0}}, {1000, {0x44}}},
         1},
        {"EmptyDatagramEndsThePass",
         {LevelDatagram(1, Bytes(4, 0x11)), Bytes{}, LevelDatagram(1, Bytes(2, 0x22))},
         {{1, {0x22, 0x22, 0x11, 0x11}}},
         2},
        {"LongerThanTheLargestIsDiscardedWhole",
         {largest, longer, LevelDatagram(2000, {0x77})},
         {{3000, largestThenUntouched}, {1, Bytes(1024, 0)}, {2000, {0x77}}},
         2},
        {"OtherKindsAreSkipped",
         {LevelDatagram(1, Bytes(4, 0x11), -1, 0x2030), Bytes{0x80},
          LevelDatagram(10, Bytes(4, 0x22)), OneBlock(20, Bytes(300, 0x33), true)},
         {{1, Bytes(4, 0)}, {10, Bytes(4, 0x22)}, {20, Bytes(300, 0x33)}},
         1},
    };
}

}  // namespace lxd::test
