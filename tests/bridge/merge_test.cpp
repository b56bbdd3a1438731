// Sources of one universe as steps in time: priorities, highest-takes-
// precedence, per-address priority, sequence order, stream termination,
// preview, timeouts, the source limits, and the careful receiver's rules
// (sampling, waiting for priorities, settled loss, hold per channel). Time is
// set by the steps.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/bridge_packets.h"
#include "tools/bridge/core/artnet_universe.h"
#include "tools/bridge/core/port_merge.h"
#include "tools/bridge/core/sacn_universe.h"
#include "tools/bridge/status/display_text.h"

namespace lxd::test {
namespace {

using bridge::Millis;
using bridge::SacnVerdict;
using V = SacnVerdict;

constexpr std::uint8_t kTerminate = 0x40;
constexpr std::uint8_t kPreview = 0x80;

// One packet from source `source` (its CID byte) at `at` ms, or for source 0
// only Expire(at). `levels` are the first four after it.
struct Step {
    int at;
    std::uint8_t source;
    std::uint8_t startCode;
    std::uint8_t priority;
    std::uint8_t sequence;
    Bytes slots;
    V verdict;
    Bytes levels;
    std::uint8_t options = 0;
    std::uint32_t via = 0;  // the arrival interface
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    bool hold = true;
    int listen = -1;  // >= 0: the universe starts receiving then (sampling)
};
void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.name;
}

// What a port fed by the whole of one universe shows after each step.
class WholePort {
  public:
    template <typename Universe>
    WholePort(const Universe& universe, bool hold) : route_{&universe.Levels()} {
        port_.Configure(&route_, 1, bridge::Merge::kHtp, hold);
    }
    template <typename Universe>
    const std::uint8_t* After(Universe& universe) {
        bool afterLoss = false;
        if (universe.TakeChange(afterLoss)) {
            port_.UpdateAll(afterLoss);
        }
        return port_.Levels();
    }

  private:
    bridge::PortRoute route_;
    bridge::PortMerge port_;
};

class SacnMerge : public ::testing::TestWithParam<Scenario> {};

TEST_P(SacnMerge, LevelsFollowTheSteps) {
    bridge::SacnUniverse universe;
    WholePort port(universe, GetParam().hold);
    if (GetParam().listen >= 0) {
        universe.Listen(Millis(GetParam().listen));
    }
    int n = 0;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(n++) + " at " + std::to_string(step.at) + " ms");
        if (step.source == 0) {
            universe.Expire(Millis(step.at));
        } else {
            SacnFields f;
            f.cidByte = step.source;
            f.startCode = step.startCode;
            f.priority = step.priority;
            f.sequence = step.sequence;
            f.options = step.options;
            f.slots = step.slots;
            const Bytes packet = f.Build();
            bridge::SacnPacket parsed;
            ASSERT_EQ(bridge::ParseSacn(packet.data(), packet.size(), parsed),
                      bridge::SacnParse::kData);
            EXPECT_EQ(universe.Apply(parsed, Millis(step.at), {0x0A650001, step.via}),
                      step.verdict);
        }
        const std::uint8_t* levels = port.After(universe);
        EXPECT_EQ(Bytes(levels, levels + 4), step.levels);
    }
}

const Bytes kZero = {0, 0, 0, 0};

Step Wait(int at, const Bytes& levels) {
    return {at, 0, 0, 0, 0, {}, V::kLevels, levels};
}

// Per-address priorities give source 1 channel 1 and source 2 channel 2;
// source 1 times out, and once the loss settles channel 1 is `last`'s.
std::vector<Step> OwnersOfOneChannelEach(const Bytes& last) {
    return {{0, 1, 0xDD, 100, 1, {100, 0}, V::kPriorities, kZero},
            {0, 1, 0, 100, 2, {10, 0}, V::kLevels, {10, 0, 0, 0}},
            {0, 2, 0xDD, 100, 1, {0, 100}, V::kPriorities, {10, 0, 0, 0}},
            {0, 2, 0, 100, 2, {0, 20}, V::kLevels, {10, 20, 0, 0}},
            {2000, 2, 0xDD, 100, 3, {0, 100}, V::kPriorities, {10, 20, 0, 0}},
            {2000, 2, 0, 100, 4, {0, 20}, V::kLevels, {10, 20, 0, 0}},
            Wait(2500, {10, 20, 0, 0}),
            {2600, 2, 0, 100, 5, {0, 21}, V::kLevels, last}};
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, SacnMerge,
    ::testing::Values(
        Scenario{"OneSourceAndShortSlots",
                 {{0, 1, 0, 100, 1, Bytes(512, 7), V::kLevels, {7, 7, 7, 7}},
                  {10, 1, 0, 100, 2, {1, 2}, V::kLevels, {1, 2, 0, 0}}}},
        Scenario{"HigherPriorityWinsWholeUniverse",
                 {{0, 1, 0, 100, 1, {10, 20, 30, 40}, V::kLevels, {10, 20, 30, 40}},
                  {1, 2, 0, 150, 1, {1, 0, 0, 0}, V::kLevels, {1, 0, 0, 0}},
                  {2, 1, 0, 199, 2, {10, 20, 30, 40}, V::kLevels, {10, 20, 30, 40}}}},
        Scenario{"EqualPrioritiesTakeHighestLevel",
                 {{0, 1, 0, 100, 1, {10, 0, 30, 0}, V::kLevels, {10, 0, 30, 0}},
                  {1, 2, 0, 100, 1, {5, 50, 5, 0}, V::kLevels, {10, 50, 30, 0}},
                  {2, 3, 0, 99, 1, {255, 255, 255, 255}, V::kLevels, {10, 50, 30, 0}}}},
        Scenario{"PerAddressPriorityDecidesEachChannel",
                 {{0, 2, 0, 100, 1, {50, 50, 50, 50}, V::kLevels, {50, 50, 50, 50}},
                  {1, 1, 0xDD, 100, 1, {200, 0, 100, 1}, V::kPriorities, {50, 50, 50, 50}},
                  {2, 1, 0, 100, 2, {10, 10, 90, 90}, V::kLevels, {10, 50, 90, 50}}}},
        Scenario{"PerAddressPriorityExpiresToUniversePriority",
                 {{0, 1, 0xDD, 100, 1, {0, 0, 0, 0}, V::kPriorities, kZero},
                  {0, 1, 0, 100, 2, {10, 10, 10, 10}, V::kLevels, kZero},
                  {2000, 1, 0, 100, 3, {10, 10, 10, 10}, V::kLevels, kZero},
                  Wait(2499, kZero),
                  Wait(2500, {10, 10, 10, 10})}},
        Scenario{"SequenceOrderAndWrap",
                 {{0, 1, 0, 100, 10, {1}, V::kLevels, {1, 0, 0, 0}},
                  {1, 1, 0, 100, 10, {2}, V::kOutOfOrder, {1, 0, 0, 0}},
                  {2, 1, 0, 100, 9, {2}, V::kOutOfOrder, {1, 0, 0, 0}},
                  {3, 1, 0, 100, 247, {2}, V::kOutOfOrder, {1, 0, 0, 0}},  // 19 behind
                  {4, 1, 0, 100, 246, {3}, V::kLevels, {3, 0, 0, 0}},      // 20 behind
                  {5, 1, 0, 100, 255, {4}, V::kLevels, {4, 0, 0, 0}},
                  {6, 1, 0, 100, 0, {5}, V::kLevels, {5, 0, 0, 0}},      // wraps
                  {7, 2, 0, 100, 200, {6}, V::kLevels, {6, 0, 0, 0}}}},  // own count
        // A loss settles when every other source has been heard since.
        Scenario{"StreamTerminatedSettlesThenHolds",
                 {{0, 1, 0, 100, 1, {10, 20}, V::kLevels, {10, 20, 0, 0}},
                  {1, 2, 0, 50, 1, {5, 5}, V::kLevels, {10, 20, 0, 0}},
                  {2, 1, 0, 100, 2, {}, V::kTerminated, {10, 20, 0, 0}, kTerminate},
                  {3, 1, 0, 100, 3, {}, V::kEnded, {10, 20, 0, 0}, kTerminate},
                  {4, 2, 0, 50, 2, {5, 5}, V::kLevels, {5, 5, 0, 0}},
                  {5, 2, 0, 50, 3, {}, V::kTerminated, {5, 5, 0, 0}, kTerminate}}},
        Scenario{"StreamTerminatedZeroes",
                 {{0, 1, 0, 100, 1, {10, 20}, V::kLevels, {10, 20, 0, 0}},
                  {1, 1, 0, 100, 2, {10, 20}, V::kTerminated, kZero, kTerminate}},
                 false},
        Scenario{"PreviewAndOtherStartCodesDriveNothing",
                 {{0, 1, 0, 100, 1, {9}, V::kPreview, kZero, kPreview},
                  {1, 1, 0x17, 100, 2, {9}, V::kOtherStartCode, kZero},
                  {2, 1, 0, 100, 3, {8}, V::kLevels, {8, 0, 0, 0}},
                  {3, 1, 0x17, 100, 3, {9}, V::kOutOfOrder, {8, 0, 0, 0}}}},
        Scenario{"SilentSourceTimesOutAndSettles",
                 {{0, 1, 0, 150, 1, {1, 1}, V::kLevels, {1, 1, 0, 0}},
                  {1000, 2, 0, 100, 1, {9, 9}, V::kLevels, {1, 1, 0, 0}},
                  Wait(2499, {1, 1, 0, 0}),
                  Wait(2500, {1, 1, 0, 0}),  // 2 not heard since: it may be failing too
                  {2600, 2, 0, 100, 2, {9, 9}, V::kLevels, {9, 9, 0, 0}},
                  Wait(5100, {9, 9, 0, 0})}},  // zero on loss: BridgeForwarding
        // Two desks at idle rate lose the network: the look stays as it was.
        Scenario{"TwoDesksLostTogetherLeaveTheirLook",
                 {{0, 1, 0, 100, 1, {0, 0}, V::kLevels, kZero},
                  {500, 2, 0, 90, 1, {255, 255}, V::kLevels, kZero},
                  Wait(2500, kZero),
                  Wait(3000, kZero),
                  {3100, 2, 0, 90, 2, {255, 255}, V::kLevels, {255, 255, 0, 0}}}},
        Scenario{"SamplingMergesTheSourcesFoundTogether",
                 {{0, 1, 0, 100, 1, {10}, V::kLevels, kZero},
                  {700, 2, 0, 120, 1, {20}, V::kLevels, kZero},
                  Wait(1499, kZero),
                  Wait(1500, {20, 0, 0, 0})},
                 true,
                 0},
        // After sampling a new source waits for its per-address priorities
        // (an effects desk claiming channel 1 only), or 1.5 s without them.
        Scenario{"NewSourceWaitsForItsPriorities",
                 {{0, 1, 0, 100, 1, {50, 50, 50, 50}, V::kLevels, kZero},
                  Wait(1500, {50, 50, 50, 50}),
                  {1600, 2, 0, 150, 1, {255, 255, 255, 255}, V::kLevels, {50, 50, 50, 50}},
                  {1700, 2, 0xDD, 150, 2, {150}, V::kPriorities, {255, 50, 50, 50}},
                  {1800, 1, 0, 100, 2, {50, 50, 50, 50}, V::kLevels, {255, 50, 50, 50}},
                  {1900, 3, 0, 200, 1, {7}, V::kLevels, {255, 50, 50, 50}},
                  Wait(3399, {255, 50, 50, 50}),
                  Wait(3400, {7, 0, 0, 0})},
                 true,
                 0},
        // Desk 1's levels stop while its per-address priorities go on: it is
        // lost and stays lost, and the idle desk 2 takes over once heard.
        Scenario{"PrioritiesAloneNeitherKeepNorReviveASource",
                 {{0, 1, 0xDD, 150, 1, {150, 150}, V::kPriorities, kZero},
                  {0, 1, 0, 150, 2, {150}, V::kLevels, {150, 0, 0, 0}},
                  {0, 2, 0, 100, 1, {10}, V::kLevels, {150, 0, 0, 0}},
                  {2000, 1, 0xDD, 150, 3, {150, 150}, V::kPriorities, {150, 0, 0, 0}},
                  {2000, 2, 0, 100, 2, {10}, V::kLevels, {150, 0, 0, 0}},
                  Wait(2500, {150, 0, 0, 0}),
                  {2600, 1, 0xDD, 150, 4, {150, 150}, V::kPriorities, {150, 0, 0, 0}},
                  {3000, 2, 0, 100, 3, {10}, V::kLevels, {10, 0, 0, 0}},
                  {3025, 1, 0xDD, 150, 5, {150, 150}, V::kPriorities, {10, 0, 0, 0}}}},
        Scenario{"PerAddressPriorityAbove200CountsAs200",
                 {{0, 1, 0xDD, 0, 1, {255, 201}, V::kPriorities, kZero},
                  {0, 1, 0, 0, 2, {1, 1}, V::kLevels, {1, 1, 0, 0}},
                  {1, 2, 0, 200, 1, {9, 9}, V::kLevels, {9, 9, 0, 0}}}},
        Scenario{"HoldPerChannel", OwnersOfOneChannelEach({10, 21, 0, 0})},
        Scenario{"ZeroPerChannel", OwnersOfOneChannelEach({0, 21, 0, 0}), false},
        Scenario{"EndedSourceStaysGoneForItsLatePackets",
                 {{0, 1, 0, 100, 1, {10}, V::kLevels, {10, 0, 0, 0}},
                  {1, 1, 0, 100, 2, {}, V::kTerminated, {10, 0, 0, 0}, kTerminate},
                  {100, 1, 0, 100, 3, {99}, V::kEnded, {10, 0, 0, 0}},
                  {2501, 1, 0, 100, 4, {99}, V::kLevels, {99, 0, 0, 0}}}},
        Scenario{"SamePacketOnTwoInterfacesCountsOnce",
                 {{0, 1, 0, 100, 1, {10}, V::kLevels, {10, 0, 0, 0}, 0, 1},
                  {0, 1, 0, 100, 1, {10}, V::kDuplicate, {10, 0, 0, 0}, 0, 2},
                  {1, 1, 0, 100, 1, {11}, V::kOutOfOrder, {10, 0, 0, 0}, 0, 1}}}));

TEST(SacnMerge, TurnsAwayANinthSourceAndTakesItWhenOneLeaves) {
    bridge::SacnUniverse universe;
    SacnFields f;
    f.slots = {1};
    bridge::SacnPacket parsed;
    auto apply = [&](std::uint8_t cid, std::uint8_t options, int at) {
        f.cidByte = cid;
        f.options = options;
        f.sequence++;
        const Bytes p = f.Build();
        bridge::ParseSacn(p.data(), p.size(), parsed);
        return universe.Apply(parsed, Millis(at));
    };
    for (std::uint8_t cid = 1; cid <= bridge::kSacnMaxSources; ++cid) {
        ASSERT_EQ(apply(cid, 0, 0), V::kLevels);
    }
    EXPECT_EQ(apply(99, 0, 1), V::kSourceLimit);
    EXPECT_EQ(apply(3, kTerminate, 2), V::kTerminated);
    EXPECT_EQ(apply(99, 0, 3), V::kSourceLimit);  // 3 is merged until its loss settles
    for (std::uint8_t cid = 1; cid <= bridge::kSacnMaxSources; ++cid) {
        if (cid != 3) {
            ASSERT_EQ(apply(cid, 0, 4), V::kLevels);
        }
    }
    EXPECT_EQ(apply(99, 0, 5), V::kLevels);
    EXPECT_EQ(universe.LiveSources(), bridge::kSacnMaxSources);
    EXPECT_EQ(universe.SourcesSeen(), bridge::kSacnMaxSources + 1u);
}

TEST(SacnMerge, KeepsSourceNamesPrintable) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {std::string("Desk \x1b[2J \xc3\xa9\xff", 13), "Desk ?[2J \xc3\xa9?"},
        {"A\xc2\x9b"
         "2J\xc2\x85Z",
         "A?2J?Z"},  // C1 controls
        {"a\xe2\x80\xae"
         "b\xe2\x81\xa6"
         "c\xe2\x80\x8f",
         "a?b?c\xe2\x80\x8f"},  // overrides
        {std::string(61, 'x') + "\xe2\x82\xac", std::string(61, 'x') + "\xe2\x82\xac"},
        {std::string(62, 'x') + "\xe2\x82\xac", std::string(62, 'x') + "??"},  // cut by the sender
    };
    for (const auto& c : cases) {
        bridge::SacnUniverse universe;
        SacnFields f;
        f.sourceName = c.name;
        const Bytes p = f.Build();
        bridge::SacnPacket parsed;
        bridge::ParseSacn(p.data(), p.size(), parsed);
        universe.Apply(parsed, Millis(0));
        EXPECT_EQ(universe.Slot(0).name, c.shown);
    }
}

TEST(Text, CutsToTheTerminalsColumnsBetweenCharacters) {
    const struct {
        std::string text;
        int columns;
        std::string cut;
        int width;
    } cases[] = {
        {"abcdef", 4, "abcd", 6},
        {"\xe6\xbc\xa2\xe5\xad\x97x", 3, "\xe6\xbc\xa2", 5},  // wide: two columns each
        {"e\xcc\x81t\xc3\xa9", 2, "e\xcc\x81t", 3},           // a combining mark takes none
        {"\xc3\xa9\xc3\xa9", 1, "\xc3\xa9", 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bridge::CutToWidth(c.text, c.columns), c.cut) << c.text;
        EXPECT_EQ(bridge::DisplayWidth(c.text), c.width) << c.text;
    }
}

// Art-Net: (at ms, source address, levels) -> verdict, first four levels.
struct ArtStep {
    int at;
    std::uint32_t from;  // 0: only Expire(at)
    Bytes data;
    bridge::ArtnetVerdict verdict;
    Bytes levels;
};

TEST(ArtnetMerge, TwoSourcesMergeHighestLevelAndAThirdWaitsForTimeout) {
    using AV = bridge::ArtnetVerdict;
    const std::vector<ArtStep> steps = {
        {0, 0x0A000001, {10, 0, 30, 0}, AV::kLevels, {10, 0, 30, 0}},
        {1, 0x0A000002, {5, 50}, AV::kLevels, {10, 50, 30, 0}},
        {2, 0x0A000003, {255, 255}, AV::kThirdSource, {10, 50, 30, 0}},
        {3, 0x0A000001, {0, 0}, AV::kLevels, {5, 50, 0, 0}},
        {9000, 0x0A000002, {6, 60}, AV::kLevels, {6, 60, 0, 0}},
        {10002, 0, {}, AV::kLevels, {6, 60, 0, 0}},
        {10003, 0, {}, AV::kLevels, {6, 60, 0, 0}},  // the first one times out
        {10004, 0x0A000003, {255, 0}, AV::kLevels, {255, 60, 0, 0}},
        {20004, 0, {}, AV::kLevels, {255, 60, 0, 0}},  // both time out: held
    };
    bridge::ArtnetUniverse universe;
    WholePort port(universe, true);
    for (const ArtStep& step : steps) {
        SCOPED_TRACE(step.at);
        if (step.from == 0) {
            universe.Expire(Millis(step.at));
        } else {
            ArtDmxFields f;
            f.data = step.data;
            const Bytes p = f.Build();
            bridge::ArtDmx dmx;
            bridge::ArtPoll poll;
            ASSERT_EQ(bridge::ParseArtnet(p.data(), p.size(), dmx, poll),
                      bridge::ArtnetParse::kDmx);
            EXPECT_EQ(universe.Apply(dmx, step.from, Millis(step.at)), step.verdict);
        }
        const std::uint8_t* levels = port.After(universe);
        EXPECT_EQ(Bytes(levels, levels + 4), step.levels);
    }
    EXPECT_EQ(universe.SourcesSeen(), 3u);
    EXPECT_EQ(universe.LiveSources(), 0);
}

// A port fed by routes: inputs A..D (first four channels shown), routes of
// channel ranges with and without their own priority, htp or ltp.
struct FourChannels {
    std::uint8_t priority;
    std::vector<std::uint8_t> levels, priorities;
    std::vector<std::uint32_t> changes;
};
struct RouteRow {
    char input;
    int from, to, count, priority;  // 1-based channels
};
struct PortCase {
    std::vector<RouteRow> routes;
    bridge::Merge merge;
    Bytes levels;
    std::vector<int> winners;
};

TEST(PortMerge, RoutesMergeByPriorityThenHighestLevelOrLatestChange) {
    const std::map<char, std::vector<FourChannels>> inputs = {
        {'A', {{100, {10, 20, 30, 40}, {}, {1, 1, 5, 5}}}},
        {'B', {{50, {50, 5, 60, 0}, {}, {2, 2, 2, 2}}}},
        {'C', {{100, {99, 1, 35, 35}, {0, 150, 100, 100}, {3, 6, 1, 1}}}},
        {'D', {{100, {1, 70, 0, 0}, {}, {}}, {100, {2, 0, 0, 80}, {}, {}}}},
    };
    using bridge::Merge;
    const std::vector<PortCase> cases = {
        {{{'A', 1, 1, 512, -1}}, Merge::kHtp, {10, 20, 30, 40}, {0, 0, 0, 0}},
        {{{'A', 1, 1, 512, -1}, {'B', 1, 1, 512, -1}}, Merge::kHtp, {10, 20, 30, 40}, {0, 0, 0, 0}},
        {{{'A', 1, 1, 512, -1}, {'B', 1, 1, 512, 100}},
         Merge::kHtp,
         {50, 20, 60, 40},
         {1, 0, 1, 0}},
        {{{'A', 1, 1, 512, -1}, {'B', 1, 1, 512, 100}}, Merge::kLtp, {50, 5, 30, 40}, {1, 1, 0, 0}},
        {{{'A', 1, 1, 512, -1}, {'C', 1, 1, 512, -1}}, Merge::kHtp, {10, 1, 35, 40}, {0, 1, 1, 0}},
        {{{'A', 1, 1, 512, -1}, {'C', 1, 1, 512, 100}},
         Merge::kHtp,
         {99, 20, 35, 40},
         {1, 0, 1, 0}},
        {{{'A', 1, 3, 2, -1}, {'B', 3, 1, 2, -1}}, Merge::kHtp, {60, 0, 10, 20}, {1, 1, 0, 0}},
        {{{'D', 1, 1, 512, -1}}, Merge::kHtp, {2, 70, 0, 80}, {0, 0, 0, 0}},
        {{{'A', 1, 1, 2, -1}}, Merge::kHtp, {10, 20, 0, 0}, {0, 0, -1, -1}},
    };
    // Every input's 512 channels: the four given, then zeros.
    std::map<char, std::vector<std::vector<std::uint8_t>>> bytes;
    std::map<char, std::vector<std::vector<std::uint32_t>>> stamps;
    std::map<char, bridge::InputLevels> views;
    for (const auto& [name, sources] : inputs) {
        bridge::InputLevels& view = views[name];
        for (const FourChannels& f : sources) {
            auto& b = bytes[name];
            b.push_back(f.levels);
            b.back().resize(512);
            b.push_back(f.priorities);
            b.back().resize(f.priorities.empty() ? 0 : 512);
            stamps[name].push_back(f.changes);
            stamps[name].back().resize(f.changes.empty() ? 0 : 512);
        }
        for (std::size_t i = 0; i < sources.size(); ++i) {
            view.sources[i] = {
                bytes[name][2 * i].data(),
                sources[i].priorities.empty() ? nullptr : bytes[name][2 * i + 1].data(),
                sources[i].changes.empty() ? nullptr : stamps[name][i].data(), sources[i].priority};
        }
        view.count = static_cast<int>(sources.size());
    }
    for (const PortCase& c : cases) {
        std::vector<bridge::PortRoute> routes;
        for (const RouteRow& r : c.routes) {
            routes.push_back({&views[r.input], static_cast<std::uint16_t>(r.from - 1),
                              static_cast<std::uint16_t>(r.to - 1),
                              static_cast<std::uint16_t>(r.count),
                              static_cast<std::int16_t>(r.priority)});
        }
        bridge::PortMerge port;
        port.Configure(routes.data(), static_cast<int>(routes.size()), c.merge, true);
        port.UpdateAll();
        EXPECT_EQ(Bytes(port.Levels(), port.Levels() + 4), c.levels) << c.routes[0].input;
        EXPECT_EQ(std::vector<int>(port.Winners(), port.Winners() + 4), c.winners);
    }
    // The last input of a channel lost: held or zeroed as the port says; a
    // held channel stays held until an input drives it again (C does not
    // drive channel 1: per-address priority 0).
    for (const bool hold : {true, false}) {
        bridge::InputLevels a = views['A'];
        const bridge::PortRoute route{&a, 0, 0, 512, -1};
        bridge::PortMerge port;
        port.Configure(&route, 1, Merge::kHtp, hold);
        port.UpdateAll();
        a.count = 0;
        port.UpdateAll(true);
        EXPECT_EQ(Bytes(port.Levels(), port.Levels() + 4),
                  hold ? Bytes({10, 20, 30, 40}) : Bytes({0, 0, 0, 0}));
        a = views['C'];
        port.UpdateAll();
        EXPECT_EQ(Bytes(port.Levels(), port.Levels() + 4),
                  Bytes({static_cast<std::uint8_t>(hold ? 10 : 0), 1, 35, 35}));
    }
}

}  // namespace
}  // namespace lxd::test
