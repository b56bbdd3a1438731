// The sACN and Art-Net parsers over tables of packets, each with one field
// set right or wrong, and one sACN packet spelled out byte by byte.
#include <gtest/gtest.h>

#include <functional>

#include "tests/bridge/packets.h"
#include "tools/bridge/artnet.h"
#include "tools/bridge/sacn.h"

namespace lxd::test {
namespace {

using bridge::ArtnetParse;
using bridge::SacnParse;

struct SacnCase {
    const char* name;
    std::function<void(SacnFields&)> change;
    SacnParse expected;
};
void PrintTo(const SacnCase& c, std::ostream* os) {
    *os << c.name;
}

class SacnParseTable : public ::testing::TestWithParam<SacnCase> {};

TEST_P(SacnParseTable, SaysWhatThePacketIs) {
    SacnFields fields;
    GetParam().change(fields);
    const Bytes packet = fields.Build();
    // An exact-size copy, so that a sanitizer sees any read past the end.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[packet.size() + 1]);
    std::copy(packet.begin(), packet.end(), exact.get());
    bridge::SacnPacket parsed{};
    EXPECT_EQ(bridge::ParseSacn(exact.get(), packet.size(), parsed), GetParam().expected);
    if (GetParam().expected == SacnParse::kData) {
        EXPECT_EQ(parsed.universe, fields.universe);
        EXPECT_EQ(parsed.priority, fields.priority);
        EXPECT_EQ(parsed.startCode, fields.startCode);
        EXPECT_EQ(Bytes(parsed.slots, parsed.slots + parsed.slotCount),
                  Bytes(fields.slots.begin(), fields.slots.begin() + parsed.slotCount));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, SacnParseTable,
    ::
        testing::
            Values(
                SacnCase{"Full", [](SacnFields&) {}, SacnParse::kData},
                SacnCase{"StartCodeOnly", [](SacnFields& f) { f.slots.clear(); }, SacnParse::kData},
                SacnCase{"ThreeSlots",
                         [](SacnFields& f) {
                             f.slots = {1, 2, 3};
                         },
                         SacnParse::kData},
                SacnCase{"Universe63999", [](SacnFields& f) { f.universe = 63999; },
                         SacnParse::kData},
                SacnCase{"Priority200", [](SacnFields& f) { f.priority = 200; }, SacnParse::kData},
                SacnCase{"Synchronisation", [](SacnFields& f) { f.rootVector = 8; },
                         SacnParse::kNotData},
                SacnCase{"Empty", [](SacnFields& f) { f.keep = 0; }, SacnParse::kTruncated},
                SacnCase{"RootHeaderOnly", [](SacnFields& f) { f.keep = 38; },
                         SacnParse::kTruncated},
                SacnCase{"LastSlotCut", [](SacnFields& f) { f.keep = 637; }, SacnParse::kTruncated},
                SacnCase{"RootLengthPastEnd", [](SacnFields& f) { f.rootLength = 623; },
                         SacnParse::kTruncated},
                SacnCase{"PreambleSize", [](SacnFields& f) { f.preambleSize = 0x11; },
                         SacnParse::kRootLayer},
                SacnCase{"PostambleSize", [](SacnFields& f) { f.postambleSize = 1; },
                         SacnParse::kRootLayer},
                SacnCase{"Identifier", [](SacnFields& f) { f.identifier[8] = '8'; },
                         SacnParse::kRootLayer},
                SacnCase{"RootFlags", [](SacnFields& f) { f.rootFlags = 0x6; },
                         SacnParse::kRootLayer},
                SacnCase{"RootVector", [](SacnFields& f) { f.rootVector = 5; },
                         SacnParse::kRootLayer},
                SacnCase{"FramingFlags", [](SacnFields& f) { f.framingFlags = 0xF; },
                         SacnParse::kFramingLayer},
                SacnCase{"FramingLengthShort", [](SacnFields& f) { f.framingLength = 599; },
                         SacnParse::kFramingLayer},
                SacnCase{"FramingVector", [](SacnFields& f) { f.framingVector = 4; },
                         SacnParse::kFramingLayer},
                SacnCase{"Priority201", [](SacnFields& f) { f.priority = 201; },
                         SacnParse::kFramingLayer},
                SacnCase{"Universe0", [](SacnFields& f) { f.universe = 0; },
                         SacnParse::kFramingLayer},
                SacnCase{"Universe64000", [](SacnFields& f) { f.universe = 64000; },
                         SacnParse::kFramingLayer},
                SacnCase{"DmpFlags", [](SacnFields& f) { f.dmpFlags = 0x3; }, SacnParse::kDmpLayer},
                SacnCase{"DmpLengthLong", [](SacnFields& f) { f.dmpLength = 524; },
                         SacnParse::kDmpLayer},
                SacnCase{"DmpVector", [](SacnFields& f) { f.dmpVector = 1; }, SacnParse::kDmpLayer},
                SacnCase{"AddressType", [](SacnFields& f) { f.addressType = 0xA2; },
                         SacnParse::kDmpLayer},
                SacnCase{"FirstAddress", [](SacnFields& f) { f.firstAddress = 1; },
                         SacnParse::kDmpLayer},
                SacnCase{"Increment", [](SacnFields& f) { f.increment = 2; }, SacnParse::kDmpLayer},
                SacnCase{"CountBelowSlots", [](SacnFields& f) { f.valueCount = 100; },
                         SacnParse::kDmpLayer},
                SacnCase{"CountBeyondSlots", [](SacnFields& f) { f.valueCount = 514; },
                         SacnParse::kDmpLayer},
                SacnCase{
                    "CountZero",
                    [](SacnFields& f) {
                        f.valueCount = 0;
                        f.slots.clear();
                    },
                    SacnParse::kDmpLayer},
                SacnCase{
                    "Slots513",
                    [](SacnFields& f) { f.slots.resize(513); },  // layers agree, count too high
                    SacnParse::kDmpLayer}));

// Written from the layout tables, not with the builder above: universe 7,
// priority 150, sequence 9, source "Ab", slots 0x10 0x20 0x30.
TEST(SacnParse, ReadsTheFieldsOfAPacketSpelledOutByteByByte) {
    Bytes p = {
        0x00, 0x10, 0x00, 0x00, 'A',  'S',  'C',  '-',  'E',  '1', '.', '1',
        '7',  0,    0,    0,    0x70, 0x71, 0x00, 0x00, 0x00, 0x04};  // root: length 113 = 129 - 16
    p.insert(p.end(), 16, 0xC1);                                      // CID
    const Bytes framing = {0x70, 0x5B, 0x00, 0x00, 0x00, 0x02, 'A', 'b'};  // 91 = 129 - 38
    p.insert(p.end(), framing.begin(), framing.end());
    p.insert(p.end(), 62, 0);                                      // rest of the name
    const Bytes rest = {150,  0x00, 0x00, 9,    0x00, 0x00, 0x07,  // framing fields
                        0x70, 0x0E, 0x02, 0xA1, 0x00, 0x00, 0x00,  // DMP: length 14
                        0x01, 0x00, 0x04, 0x00, 0x10, 0x20, 0x30};
    p.insert(p.end(), rest.begin(), rest.end());
    ASSERT_EQ(p.size(), 129u);
    bridge::SacnPacket s{};
    ASSERT_EQ(bridge::ParseSacn(p.data(), p.size(), s), SacnParse::kData);
    EXPECT_EQ(s.universe, 7);
    EXPECT_EQ(s.priority, 150);
    EXPECT_EQ(s.sequence, 9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.sourceName)), "Ab");
    EXPECT_EQ(Bytes(s.slots, s.slots + s.slotCount), (Bytes{0x10, 0x20, 0x30}));
    EXPECT_EQ(Bytes(s.cid, s.cid + 16), Bytes(16, 0xC1));
    p[112] = 0xC0;  // options: preview and stream terminated
    ASSERT_EQ(bridge::ParseSacn(p.data(), p.size(), s), SacnParse::kData);
    EXPECT_TRUE(s.preview && s.terminated);
    EXPECT_EQ(bridge::SacnMulticastGroup(7), 0xEFFF0007u);
    EXPECT_EQ(bridge::SacnMulticastGroup(63999), 0xEFFFF9FFu);
}

struct ArtnetCase {
    const char* name;
    Bytes packet;
    ArtnetParse expected;
};
void PrintTo(const ArtnetCase& c, std::ostream* os) {
    *os << c.name;
}

ArtDmxFields Dmx(std::uint16_t portAddress, int dataLength, int lengthField = -1) {
    ArtDmxFields f;
    f.portAddress = portAddress;
    f.data.assign(static_cast<std::size_t>(dataLength), 0x42);
    f.length = lengthField;
    return f;
}
Bytes WithVersion(ArtDmxFields f, std::uint16_t version) {
    f.version = version;
    return f.Build();
}
Bytes Cut(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

class ArtnetParseTable : public ::testing::TestWithParam<ArtnetCase> {};

TEST_P(ArtnetParseTable, SaysWhatThePacketIs) {
    const Bytes& packet = GetParam().packet;
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[packet.size() + 1]);
    std::copy(packet.begin(), packet.end(), exact.get());
    bridge::ArtDmx dmx{};
    bridge::ArtPoll poll{};
    EXPECT_EQ(bridge::ParseArtnet(exact.get(), packet.size(), dmx, poll), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, ArtnetParseTable,
    ::testing::Values(
        ArtnetCase{"Dmx512", Dmx(0x7FFF, 512).Build(), ArtnetParse::kDmx},
        ArtnetCase{"Dmx2", Dmx(0, 2).Build(), ArtnetParse::kDmx},
        ArtnetCase{"Version15", WithVersion(Dmx(1, 24), 15), ArtnetParse::kDmx},
        ArtnetCase{"Version13", WithVersion(Dmx(1, 24), 13), ArtnetParse::kOldVersion},
        ArtnetCase{"Odd", Dmx(0, 25).Build(), ArtnetParse::kBadLength},
        ArtnetCase{"Zero", Dmx(0, 0).Build(), ArtnetParse::kBadLength},
        ArtnetCase{"Over512", Dmx(0, 514).Build(), ArtnetParse::kBadLength},
        ArtnetCase{"LengthPastEnd", Dmx(0, 100, 102).Build(), ArtnetParse::kTruncated},
        ArtnetCase{"HeaderCut", Cut(Dmx(0, 2).Build(), 17), ArtnetParse::kTruncated},
        ArtnetCase{"Net128", Dmx(0x8000, 2).Build(), ArtnetParse::kBadAddress},
        ArtnetCase{"BadId", Cut(Bytes{'A', 'r', 't', '-', 'N', 'E', 't', 0, 0, 0x50, 0, 14}, 12),
                   ArtnetParse::kNotArtnet},
        ArtnetCase{"Short", Bytes{'A', 'r', 't'}, ArtnetParse::kNotArtnet},
        ArtnetCase{"Sync", Bytes{'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x52, 0, 14, 0, 0},
                   ArtnetParse::kOther},
        ArtnetCase{"Poll", ArtPollFields{}.Build(), ArtnetParse::kPoll},
        ArtnetCase{"PollCut", Cut(ArtPollFields{}.Build(), 13), ArtnetParse::kTruncated},
        ArtnetCase{"PollOld", ArtPollFields{13}.Build(), ArtnetParse::kOldVersion}));

TEST(ArtnetParse, ReadsPortAddressDataAndPollTargets) {
    ArtDmxFields f = Dmx(0x1234, 6);
    f.data = {1, 2, 3, 4, 5, 6};
    const Bytes packet = f.Build();
    bridge::ArtDmx dmx{};
    bridge::ArtPoll poll{};
    ASSERT_EQ(bridge::ParseArtnet(packet.data(), packet.size(), dmx, poll), ArtnetParse::kDmx);
    EXPECT_EQ(dmx.portAddress, 0x1234);
    EXPECT_EQ(Bytes(dmx.data, dmx.data + dmx.length), f.data);

    const Bytes targeted = ArtPollFields{14, 0x20, true, 40, 17}.Build();
    ASSERT_EQ(bridge::ParseArtnet(targeted.data(), targeted.size(), dmx, poll), ArtnetParse::kPoll);
    EXPECT_TRUE(poll.targeted);
    EXPECT_EQ(poll.targetTop, 40);
    EXPECT_EQ(poll.targetBottom, 17);
}

}  // namespace
}  // namespace lxd::test
