// The sACN and Art-Net parsers over tables of packets, each with one field
// set right or wrong, and one sACN packet spelled out byte by byte.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/bridge_packets.h"
#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/sacn.h"

namespace lxd::test {
namespace {

using bridge::ArtnetParse;
using bridge::SacnParse;

using F = SacnFields;
using P = SacnParse;

TEST(SacnParse, SaysWhatEachPacketIs) {
    const struct {
        const char* name;
        void (*change)(F&);
        P expected;
    } cases[] = {
        {"full", [](F&) {}, P::kData},
        {"start code only", [](F& f) { f.slots.clear(); }, P::kData},
        {"three slots",
         [](F& f) {
             f.slots = {1, 2, 3};
         },
         P::kData},
        {"universe 63999", [](F& f) { f.universe = 63999; }, P::kData},
        {"priority 200", [](F& f) { f.priority = 200; }, P::kData},
        // Under the extended root vector, a data packet's framing vector is
        // discovery's, and its DMP layer no universe list.
        {"data layout, extended root", [](F& f) { f.rootVector = 8; }, P::kDiscoveryLayer},
        {"extended, unknown framing", [](F& f) { f.rootVector = 8, f.framingVector = 9; },
         P::kNotData},
        {"empty", [](F& f) { f.keep = 0; }, P::kTruncated},
        {"root header only", [](F& f) { f.keep = 38; }, P::kTruncated},
        {"last slot cut", [](F& f) { f.keep = 637; }, P::kTruncated},
        {"root length past end", [](F& f) { f.rootLength = 623; }, P::kTruncated},
        {"preamble size", [](F& f) { f.preambleSize = 0x11; }, P::kRootLayer},
        {"postamble size", [](F& f) { f.postambleSize = 1; }, P::kRootLayer},
        {"identifier", [](F& f) { f.identifier[8] = '8'; }, P::kRootLayer},
        {"root flags", [](F& f) { f.rootFlags = 0x6; }, P::kRootLayer},
        {"root vector", [](F& f) { f.rootVector = 5; }, P::kRootLayer},
        {"framing flags", [](F& f) { f.framingFlags = 0xF; }, P::kFramingLayer},
        {"framing length", [](F& f) { f.framingLength = 599; }, P::kFramingLayer},
        {"framing vector", [](F& f) { f.framingVector = 4; }, P::kFramingLayer},
        {"priority 201", [](F& f) { f.priority = 201; }, P::kFramingLayer},
        {"universe 0", [](F& f) { f.universe = 0; }, P::kFramingLayer},
        {"universe 64000", [](F& f) { f.universe = 64000; }, P::kFramingLayer},
        {"DMP flags", [](F& f) { f.dmpFlags = 0x3; }, P::kDmpLayer},
        {"DMP length", [](F& f) { f.dmpLength = 524; }, P::kDmpLayer},
        {"DMP vector", [](F& f) { f.dmpVector = 1; }, P::kDmpLayer},
        {"address type", [](F& f) { f.addressType = 0xA2; }, P::kDmpLayer},
        {"first address", [](F& f) { f.firstAddress = 1; }, P::kDmpLayer},
        {"increment", [](F& f) { f.increment = 2; }, P::kDmpLayer},
        {"count below slots", [](F& f) { f.valueCount = 100; }, P::kDmpLayer},
        {"count beyond slots", [](F& f) { f.valueCount = 514; }, P::kDmpLayer},
        {"count 0", [](F& f) { f.valueCount = 0, f.slots.clear(); }, P::kDmpLayer},
        {"513 slots", [](F& f) { f.slots.resize(513); }, P::kDmpLayer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        F fields;
        c.change(fields);
        const Bytes packet = fields.Build();
        // An exact-size copy, so that a sanitizer sees any read past the end.
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[packet.size() + 1]);
        std::copy(packet.begin(), packet.end(), exact.get());
        bridge::SacnPacket parsed{};
        ASSERT_EQ(bridge::ParseSacn(exact.get(), packet.size(), parsed), c.expected);
        if (c.expected == P::kData) {
            EXPECT_EQ(parsed.universe, fields.universe);
            EXPECT_EQ(parsed.priority, fields.priority);
            EXPECT_EQ(Bytes(parsed.slots, parsed.slots + parsed.slotCount), fields.slots);
        }
    }
}

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

Bytes Cut(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

// Synchronisation packets and discovery pages, each with one field set right
// or wrong; one synchronisation packet spelled out from the layout table.
TEST(SacnParse, ReadsSynchronisationAndDiscoveryPages) {
    Bytes literal = {0x00, 0x10, 0x00, 0x00, 'A', 'S',  'C',  '-',  'E',  '1',  '.',
                     '1',  '7',  0,    0,    0,   0x70, 0x21, 0x00, 0x00, 0x00, 0x08};  // root: 33
    literal.insert(literal.end(), 16, 0xC1);                                            // CID
    const Bytes framing = {0x70, 0x0B, 0x00, 0x00, 0x00, 0x01, 9, 0x01, 0x2C, 0, 0};    // 11; 300
    literal.insert(literal.end(), framing.begin(), framing.end());
    std::vector<std::uint16_t> many(513);
    for (int i = 0; i < 513; ++i) {
        many[i] = static_cast<std::uint16_t>(i * 100 + 1);
    }
    const std::pair<Bytes, P> cases[] = {
        {literal, P::kSync},
        {SacnSync(100), P::kSync},
        {SacnSync(0), P::kSyncLayer},
        {SacnSync(64000), P::kSyncLayer},
        {SacnSync(100, 0, 1, 12), P::kSyncLayer},  // framing length
        {Cut(literal, 48), P::kTruncated},
        {SacnDiscoveryPage({1, 2}), P::kDiscovery},
        {SacnDiscoveryPage({}), P::kDiscovery},
        {SacnDiscoveryPage({7}, 2, 2), P::kDiscovery},
        {SacnDiscoveryPage({7}, 2, 1), P::kDiscoveryLayer},  // after the last page
        {SacnDiscoveryPage({7}, 0, 0, 1, "Desk", 3), P::kDiscoveryLayer},
        {SacnDiscoveryPage({7}, 0, 0, 1, "Desk", 7, 2), P::kDiscoveryLayer},
        {SacnDiscoveryPage({3, 2}), P::kDiscoveryLayer},  // out of order
        {SacnDiscoveryPage({3, 3}), P::kDiscoveryLayer},
        {SacnDiscoveryPage({0, 3}), P::kDiscoveryLayer},
        {SacnDiscoveryPage({3, 64000}), P::kDiscoveryLayer},
        {SacnDiscoveryPage(std::vector<std::uint16_t>(many.begin(), many.end() - 1)),
         P::kDiscovery},
        {SacnDiscoveryPage(many), P::kDiscoveryLayer},
        {Cut(SacnDiscoveryPage({}), 119), P::kTruncated},
    };
    int n = 0;
    for (const auto& [packet, expected] : cases) {
        SCOPED_TRACE(n++);
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[packet.size() + 1]);
        std::copy(packet.begin(), packet.end(), exact.get());
        bridge::SacnPacket data{};
        bridge::SacnSync sync{};
        bridge::SacnDiscovery page{};
        ASSERT_EQ(bridge::ParseSacn(exact.get(), packet.size(), data, sync, page), expected);
        if (packet == literal) {
            EXPECT_EQ(sync.address, 300);
            EXPECT_EQ(sync.sequence, 9);
            EXPECT_EQ(Bytes(sync.cid, sync.cid + 16), Bytes(16, 0xC1));
        }
        if (expected == P::kDiscovery) {
            EXPECT_EQ(Bytes(page.universes, page.universes + 2 * page.count),
                      Bytes(packet.begin() + 120, packet.end()));
        }
    }
}

ArtDmxFields Dmx(std::uint16_t portAddress, int dataLength, int lengthField = -1,
                 std::uint16_t version = 14) {
    ArtDmxFields f;
    f.portAddress = portAddress;
    f.data.assign(static_cast<std::size_t>(dataLength), 0x42);
    f.length = lengthField;
    f.version = version;
    return f;
}

TEST(ArtnetParse, SaysWhatEachPacketIs) {
    using A = ArtnetParse;
    const Bytes sync = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x52, 0, 14, 0, 0};
    Bytes badId = sync;
    badId[5] = 'E';
    Bytes pollReply = sync;
    pollReply[9] = 0x21;
    const std::pair<Bytes, A> cases[] = {
        {Dmx(0x7FFF, 512).Build(), A::kDmx},
        {Dmx(0, 2).Build(), A::kDmx},
        {Dmx(1, 24, -1, 15).Build(), A::kDmx},
        {Dmx(1, 24, -1, 13).Build(), A::kOldVersion},
        {Dmx(0, 25).Build(), A::kDmx},  // odd lengths: small senders send them
        {Dmx(0, 1).Build(), A::kDmx},
        {Dmx(0, 4, 513).Build(), A::kBadLength},
        {Dmx(0, 0).Build(), A::kBadLength},
        {Dmx(0, 514).Build(), A::kBadLength},
        {Dmx(0, 100, 102).Build(), A::kTruncated},
        {Cut(Dmx(0, 2).Build(), 17), A::kTruncated},
        {Dmx(0x8000, 2).Build(), A::kBadAddress},
        {badId, A::kNotArtnet},
        {Cut(sync, 3), A::kNotArtnet},
        {sync, A::kSync},
        {ArtSync(), A::kSync},
        {Cut(sync, 13), A::kTruncated},
        {ArtSync(13), A::kOldVersion},
        {pollReply, A::kOther},
        {ArtPollFields{}.Build(), A::kPoll},
        {Cut(ArtPollFields{}.Build(), 13), A::kTruncated},
        {ArtPollFields{13}.Build(), A::kOldVersion},
    };
    int n = 0;
    for (const auto& [packet, expected] : cases) {
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[packet.size() + 1]);
        std::copy(packet.begin(), packet.end(), exact.get());
        bridge::ArtDmx dmx{};
        bridge::ArtPoll poll{};
        EXPECT_EQ(bridge::ParseArtnet(exact.get(), packet.size(), dmx, poll), expected) << n++;
    }
}

}  // namespace
}  // namespace lxd::test
