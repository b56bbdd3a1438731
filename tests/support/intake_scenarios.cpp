#include "tests/support/intake_scenarios.h"

namespace lxd::test {
namespace {

using host::Bytes;

Bytes Block(std::uint16_t start, const Bytes& levels, bool coded) {
    return host::BlockDatagram({{start, static_cast<std::uint16_t>(levels.size()),
                                 coded ? host::CodedBlockData(levels) : levels}});
}

}  // namespace

std::vector<IntakeScenario> IntakeScenarios() {
    // The largest datagram taken (1,316 bytes) and one byte more, which is
    // discarded whole although its first 1,316 bytes would be a valid packet.
    const Bytes largest = Block(3000, Bytes(1280, 0x55), false);
    Bytes largestThenUntouched(1281, 0x55);
    largestThenUntouched.back() = 0;
    Bytes longer = host::LevelDatagram(1, Bytes(1024, 0x66));
    longer.resize(1317, 0x66);
    return {
        {"ArrivalOrder",
         {host::LevelDatagram(1, Bytes(8, 0x11)), Block(3, Bytes(4, 0x22), true),
          host::LevelDatagram(6, {0x33}), host::LevelDatagram(1000, {0x44})},
         {{1, {0x11, 0x11, 0x22, 0x22, 0x22, 0x33, 0x11, 0x11, 0}}, {1000, {0x44}}},
         1},
        {"EmptyDatagramEndsThePass",
         {host::LevelDatagram(1, Bytes(4, 0x11)), Bytes{}, host::LevelDatagram(1, Bytes(2, 0x22))},
         {{1, {0x22, 0x22, 0x11, 0x11}}},
         2},
        {"LongerThanTheLargestIsDiscardedWhole",
         {largest, longer, host::LevelDatagram(2000, {0x77})},
         {{3000, largestThenUntouched}, {1, Bytes(1024, 0)}, {2000, {0x77}}},
         2},
        {"OtherKindsAreSkipped",
         {host::LevelDatagram(1, Bytes(4, 0x11), -1, 0x2030), Bytes{0x80},
          host::LevelDatagram(10, Bytes(4, 0x22)), Block(20, Bytes(300, 0x33), true)},
         {{1, Bytes(4, 0)}, {10, Bytes(4, 0x22)}, {20, Bytes(300, 0x33)}},
         1},
    };
}

}  // namespace lxd::test
