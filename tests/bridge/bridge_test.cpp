// The bridge without sockets: port mapping from the command line, block
// packets as the driver applies them, the once-a-second refresh, on-loss,
// counts, and the ArtPollReply packets a console sees.
#include <gtest/gtest.h>

#include "intake/datagram.h"
#include "protocol/block_writer.h"
#include "protocol/layout.h"
#include "tests/support/bridge_packets.h"
#include "tools/bridge/console/view.h"
#include "tools/bridge/core/bridge.h"
#include "tools/bridge/status/display_text.h"
#include "tools/bridge/status/taker.h"

namespace lxd::test {
namespace {

using bridge::Millis;
using bridge::Protocol;

struct MappingCase {
    std::vector<std::pair<Protocol, std::string>> lists;
    std::string result;  // ports as "port:S|A universe ..." or the error message
};

std::string Describe(const bridge::Mapping& m) {
    std::string out;
    for (int p = 0; p < kNumPorts; ++p) {
        if (m.Mapped(p)) {
            out += (out.empty() ? "" : " ") + std::to_string(p) + ":" +
                   (m.Port(p).protocol == Protocol::kSacn ? "S" : "A") +
                   std::to_string(m.Port(p).universe);
        }
    }
    return out;
}

TEST(BridgeMapping, ListsGoOntoConsecutivePortsOrAreRefused) {
    const Protocol S = Protocol::kSacn;
    const Protocol A = Protocol::kArtnet;
    const std::vector<MappingCase> cases = {
        {{{S, "1-3"}}, "0:S1 1:S2 2:S3"},
        {{{S, "5,2,63999@33"}}, "33:S5 34:S2 35:S63999"},
        {{{S, "1-4@0"}, {A, "0:0:0-3@4"}}, "0:S1 1:S2 2:S3 3:S4 4:A0 5:A1 6:A2 7:A3"},
        {{{A, "1:2:14-1:3:1"}}, "0:A302 1:A303 2:A304 3:A305"},
        {{{A, "0:1:15-2:0"}}, "0:A31 1:A32"},
        {{{A, "32767@35"}, {S, "7@34"}}, "34:S7 35:A32767"},
        {{{S, "1-36"}}, "33:S34 34:S35 35:S36"},
        {{{S, "1-37"}}, "--sacn 1-37: the list runs past port 35"},
        {{{S, "1@36"}}, "--sacn 1@36: port 36 is outside 0..35"},
        {{{S, "1@"}}, "expected @PORT with a driver port 0..35"},
        {{{S, "@3"}}, "no universes before '@'"},
        {{{S, "0"}}, "universe '0' is outside 1..63999"},
        {{{S, "5-3"}}, "range '5-3' runs backwards"},
        {{{S, "1,,2"}}, "'' is not a universe"},
        {{{S, "1-2"}, {A, "0"}}, "--artnet 0: port 0 is already fed by sACN universe 1"},
        {{{S, "1,1"}}, "sACN universe 1 is listed twice (ports 0 and 1)"},
        {{{A, "32768"}}, "port-address 32768 is outside 0..32767"},
        {{{A, "0:16:0"}}, "net is 0..127, sub-net and universe 0..15"},
        {{{A, "0:0:0:0"}}, "more than three fields"},
        {{{A, "0-0:1"}}, "neither a number nor net:sub-net:universe"},
    };
    for (const MappingCase& c : cases) {
        bridge::Mapping mapping;
        std::string error;
        std::string got;
        for (const auto& [protocol, list] : c.lists) {
            const std::string before = Describe(mapping);
            if (!mapping.Add(protocol, list, error)) {
                got = error;
                EXPECT_EQ(Describe(mapping), before) << "a refused list leaves no trace";
                break;
            }
            got = Describe(mapping);
        }
        EXPECT_NE(got.find(c.result), std::string::npos) << c.lists[0].second << " gave " << got;
    }
}

// A driver store that every datagram sent is applied to, as the driver would.
struct StoreSink : bridge::DatagramSink {
    std::vector<std::uint8_t> store = std::vector<std::uint8_t>(kStoreSize, 0);
    std::vector<Bytes> sent;
    bool Send(const std::uint8_t* data, std::size_t size) override {
        sent.emplace_back(data, data + size);
        ApplyDatagram(data, static_cast<std::uint32_t>(size), store.data(),
                      {nullptr, nullptr, nullptr});
        return true;
    }
    Bytes Port(int port) const {
        return Bytes(store.begin() + port * 512, store.begin() + port * 512 + 512);
    }
};

TEST(BlockWriter, CodesABlockOnlyWhenStrictlyShorter) {
    const struct {
        Bytes levels;
        int coded;
    } cases[] = {{{5, 5, 5, 1}, 0}, {{5, 5, 5, 5, 1, 2}, 1}, {{1, 2, 3}, 0}, {Bytes(512, 9), 1}};
    for (const auto& c : cases) {
        BlockWriter writer;
        ASSERT_TRUE(writer.Add(1, c.levels.data(), static_cast<std::uint16_t>(c.levels.size())));
        EXPECT_EQ(writer.CodedBlocks(), c.coded) << c.levels.size();
        std::vector<std::uint8_t> store(kStoreSize, 0xEE);
        ApplyDatagram(writer.Data(), static_cast<std::uint32_t>(writer.Size()), store.data(),
                      {nullptr, nullptr, nullptr});
        EXPECT_EQ(Bytes(store.begin(), store.begin() + c.levels.size()), c.levels);
        EXPECT_EQ(store[c.levels.size()], 0xEE);
    }
}

// Levels that do not compress: each port's 512 go raw, two to a datagram.
Bytes Noise(int seed) {
    Bytes b(512);
    for (int i = 0; i < 512; ++i) {
        b[i] = static_cast<std::uint8_t>((i * 131 + seed * 71) ^ (i >> 3));
    }
    return b;
}

class BridgeForwarding : public ::testing::Test {
  protected:
    void Map(const std::string& sacn, bool hold = true) {
        std::string error;
        ASSERT_TRUE(mapping_.Add(Protocol::kSacn, sacn, error)) << error;
        bridge_ = std::make_unique<bridge::Bridge>(mapping_, hold, sink_);
    }
    void Send(std::uint16_t universe, const Bytes& slots, int at) {
        SacnFields f;
        f.universe = universe;
        f.slots = slots;
        f.sequence = ++sequence_;
        const Bytes p = f.Build();
        bridge_->OnSacn(p.data(), p.size(), Millis(at));
    }
    bridge::Mapping mapping_;
    StoreSink sink_;
    std::unique_ptr<bridge::Bridge> bridge_;
    std::uint8_t sequence_ = 0;
};

// A reloaded configuration: the port whose universe stayed keeps its source,
// levels and counts; a port given another universe starts from zero and is
// sent at once; a port no longer mapped is never sent again.
TEST_F(BridgeForwarding, RemapKeepsThePortsWhoseUniverseStayed) {
    Map("1-3");
    Send(1, Bytes(512, 10), 0);
    Send(2, Bytes(512, 20), 0);
    Send(3, Bytes(512, 30), 0);
    bridge_->Flush(Millis(0));
    bridge::Mapping next;
    std::string error;
    ASSERT_TRUE(next.Add(Protocol::kSacn, "1,7", error)) << error;
    bridge_->Remap(next, true, Millis(10));
    std::fill(sink_.store.begin() + 2 * 512, sink_.store.begin() + 3 * 512, 0xEE);
    const std::size_t sent = sink_.sent.size();
    bridge_->Flush(Millis(10));
    EXPECT_EQ(sink_.sent.size(), sent + 1);
    EXPECT_EQ(sink_.Port(0), Bytes(512, 10));
    EXPECT_EQ(sink_.Port(1), Bytes(512, 0));
    EXPECT_EQ(bridge_->LiveSources(0), 1);
    EXPECT_EQ(bridge_->Counts(0).packets, 1u);
    EXPECT_EQ(bridge_->Counts(1).packets, 0u);

    Send(2, Bytes(512, 99), 20);
    Send(7, Bytes(512, 70), 20);
    Send(3, Bytes(512, 33), 20);
    Send(1, Bytes(512, 11), 20);
    for (int at = 20; at <= 3000; at += 250) {
        bridge_->Tick(Millis(at));
    }
    EXPECT_EQ(sink_.Port(0), Bytes(512, 11));
    EXPECT_EQ(sink_.Port(1), Bytes(512, 70));
    EXPECT_EQ(sink_.Port(2), Bytes(512, 0xEE));
    EXPECT_EQ(bridge_->Sacn().unmapped, 2u);
}

// Routes: an Art-Net backup at priority 50 behind sACN universe 1 on port 0
// takes over when the main desk is lost and gives way when it returns; a
// range of universe 2 lands at channel 11 of port 1; a reload that moves only
// that range keeps port 0 as it is.
TEST_F(BridgeForwarding, RoutesFailOverToTheBackupAndAReloadKeepsUnchangedPorts) {
    const auto route = [](bridge::Mapping& m, const char* from, int first, int count, int port,
                          int at, int priority) {
        bridge::Route r;
        std::string error;
        ASSERT_TRUE(bridge::ParseInput(from, r.from, error)) << error;
        r.first = static_cast<std::uint16_t>(first);
        r.count = static_cast<std::uint16_t>(count);
        r.port = static_cast<std::uint8_t>(port);
        r.at = static_cast<std::uint16_t>(at);
        r.priority = static_cast<std::int16_t>(priority);
        ASSERT_TRUE(m.AddRoute(r, error)) << error;
    };
    route(mapping_, "sacn 1", 1, 512, 0, 1, -1);
    route(mapping_, "artnet 0", 1, 512, 0, 1, 50);
    route(mapping_, "sacn 2", 1, 4, 1, 11, -1);
    bridge_ = std::make_unique<bridge::Bridge>(mapping_, true, sink_);
    struct NoReplies : bridge::ReplySink {
        std::uint32_t OwnAddressFor(std::uint32_t) override { return 0; }
        void Reply(std::uint32_t, const std::uint8_t*, std::size_t) override {}
    } replies;
    const auto backup = [&](int at) {
        ArtDmxFields f;
        f.data = Bytes(512, 50);
        const Bytes p = f.Build();
        bridge_->OnArtnet(p.data(), p.size(), 0x0A000002, Millis(at), replies);
    };
    Send(1, Bytes(512, 100), 0);
    Send(2, {1, 2, 3, 4, 5}, 0);
    backup(0);
    bridge_->Flush(Millis(0));
    EXPECT_EQ(sink_.Port(0), Bytes(512, 100));
    const auto slice = [&](int port, int from, int to) {
        const Bytes levels = sink_.Port(port);
        return Bytes(levels.begin() + from, levels.begin() + to);
    };
    EXPECT_EQ(slice(1, 8, 16), (Bytes{0, 0, 1, 2, 3, 4, 0, 0}));
    for (int at = 250; at <= 2500; at += 250) {  // the main desk falls silent
        backup(at);
        Send(2, {1, 2, 3, 4, 5}, at);
        bridge_->Tick(Millis(at));
        EXPECT_EQ(sink_.Port(0)[0], at < 2500 ? 100 : 50) << at;
    }
    Send(1, Bytes(512, 100), 2600);
    bridge_->Flush(Millis(2600));
    EXPECT_EQ(sink_.Port(0)[0], 100);

    bridge::Mapping next;
    route(next, "sacn 1", 1, 512, 0, 1, -1);
    route(next, "artnet 0", 1, 512, 0, 1, 50);
    route(next, "sacn 2", 2, 2, 1, 21, -1);
    const std::size_t sent = sink_.sent.size();
    bridge_->Remap(next, true, Millis(2700));
    bridge_->Flush(Millis(2700));
    ASSERT_EQ(sink_.sent.size(), sent + 1) << "only port 1 goes again";
    EXPECT_EQ(sink_.Port(0)[0], 100);
    EXPECT_EQ(slice(1, 10, 22), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3}));
}

TEST_F(BridgeForwarding, ChangedPortsShareDatagramsThatTheDriverAppliesExactly) {
    Map("1-6@30");
    const struct {
        bool noisy;
        std::size_t datagrams;  // for six changed ports
    } cases[] = {{true, 3}, {false, 2}};
    int at = 0;
    for (const auto& c : cases) {
        sink_.sent.clear();
        std::vector<Bytes> expected;
        for (int u = 0; u < 6; ++u) {
            expected.push_back(c.noisy ? Noise(u + at)
                                       : Bytes(512, static_cast<std::uint8_t>(u + at)));
            Send(static_cast<std::uint16_t>(u + 1), expected.back(), at);
        }
        bridge_->Flush(Millis(at));
        EXPECT_EQ(sink_.sent.size(), c.datagrams);
        for (const Bytes& d : sink_.sent) {
            EXPECT_LE(d.size(), static_cast<std::size_t>(kLargestDatagram));
        }
        for (int u = 0; u < 6; ++u) {
            EXPECT_EQ(sink_.Port(30 + u), expected[u]) << "port " << 30 + u;
        }
        at += 10;
        bridge_->Flush(Millis(at));  // nothing changed: nothing sent
        EXPECT_EQ(sink_.sent.size(), c.datagrams);
    }
}

TEST_F(BridgeForwarding, LivePortsAreSentAgainWithinASecondAndLossFollowsTheSetting) {
    for (const bool hold : {true, false}) {
        SCOPED_TRACE(hold ? "hold" : "zero");
        mapping_ = {};
        sink_ = {};
        Map("1-2", hold);
        Send(1, {40, 41}, 0);
        bridge_->Flush(Millis(0));
        std::vector<std::size_t> sentAfterTick;
        for (int at = 250; at <= 3000; at += 250) {
            bridge_->Tick(Millis(at));
            sentAfterTick.push_back(sink_.sent.size());
        }
        // Refreshes at 750, 1500 and 2250; the source is lost at 2500: zeroed
        // levels go at once, held ones with the next refresh, at 3000.
        const std::size_t lost = hold ? 4 : 5;
        EXPECT_EQ(sentAfterTick,
                  (std::vector<std::size_t>{1, 1, 2, 2, 2, 3, 3, 3, 4, lost, lost, 5}));
        EXPECT_EQ(sink_.Port(0)[0], hold ? 40 : 0);
        EXPECT_EQ(bridge_->Output().Datagrams(0), 5u);
        EXPECT_EQ(bridge_->Output().Datagrams(1), 0u);
        EXPECT_EQ(bridge_->Counts(0).lost, 1u);
    }
}

TEST_F(BridgeForwarding, NothingIsSentWhileSamplingThenTheSourcesFoundTogether) {
    Map("1");
    bridge_->Listen(Millis(0));
    Send(1, {10}, 100);
    bridge_->Flush(Millis(100));
    for (int at = 250; at <= 1250; at += 250) {
        bridge_->Tick(Millis(at));
    }
    EXPECT_TRUE(sink_.sent.empty());
    bridge_->Tick(Millis(1500));
    ASSERT_EQ(sink_.sent.size(), 1u);
    EXPECT_EQ(sink_.Port(0)[0], 10);
    EXPECT_EQ(bridge_->LiveSources(0), 1);
}

// The snapshot that the views read: sources with their state, rates and
// names, and what the status view makes of long names on a narrow terminal.
TEST_F(BridgeForwarding, SnapshotShowsSourcesAndTheViewKeepsToTheWidth) {
    Map("1-2");
    const std::string longName(50, 'N');
    for (std::uint8_t source = 1; source <= 4; ++source) {
        SacnFields f;
        f.cidByte = source;
        f.sourceName = longName + std::to_string(source);
        f.slots = {source};
        const Bytes p = f.Build();
        bridge_->OnSacn(p.data(), p.size(), Millis(0), {0x0A650000u + source, 3});
    }
    bridge::SnapshotTaker taker;
    bridge::NetworkStatus network;
    network.interfaces.push_back({"vl", "10.101.0.5", "", 3, {1, 2}, {}, ""});
    taker.Take(*bridge_, network, {}, Millis(0));
    Send(1, {9}, 500);  // a fifth source, CID 1s: the first one again
    const bridge::Snapshot shot = taker.Take(*bridge_, network, {}, Millis(1000));
    ASSERT_EQ(shot.ports.size(), 2u);
    const bridge::PortStatus& port = shot.ports[0];
    EXPECT_EQ(port.levels[0], 9);
    EXPECT_EQ(port.packetsPerSecond, 1.0);
    ASSERT_EQ(port.sources.size(), 4u);
    EXPECT_EQ(port.sources[1].name, longName + "2");
    EXPECT_EQ(port.sources[1].address, "10.101.0.2");
    EXPECT_EQ(port.sources[0].cid, "01010101-0101-0101-0101-010101010101");
    EXPECT_EQ(port.sources[0].packetsPerSecond, 1.0);
    EXPECT_EQ(port.sources[0].lastSeen, 0.5);
    for (const int columns : {40, 80, 200}) {
        const std::string view = bridge::RenderStatus(shot, columns);
        std::size_t lines = 0;
        for (std::size_t at = 0, end; (end = view.find('\n', at)) != std::string::npos;
             at = end + 1, ++lines) {
            EXPECT_LE(bridge::DisplayWidth(view.substr(at, end - at)), columns);
        }
        EXPECT_NE(view.find("\n    1  sACN 2"), std::string::npos) << view;  // a row of its own
        EXPECT_EQ(lines, 11u) << view;
    }
}

struct ReplyRecorder : bridge::ReplySink {
    std::vector<Bytes> replies;
    std::uint32_t OwnAddressFor(std::uint32_t) override { return 0xC0A80105; }  // 192.168.1.5
    void MacFor(std::uint32_t address, std::uint8_t* mac) override {
        EXPECT_EQ(address, 0xC0A80105u);
        std::fill(mac, mac + 6, 0xA5);
    }
    void Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) override {
        EXPECT_EQ(poller, 0x0A000001u);
        replies.emplace_back(data, data + size);
    }
};

TEST(BridgeArtPoll, RepliesAnnounceEveryMappedPortAddressFourToAReply) {
    bridge::Mapping mapping;
    std::string error;
    ASSERT_TRUE(mapping.Add(Protocol::kArtnet, "0:0:0-4,1:2:3@2", error)) << error;
    ASSERT_TRUE(mapping.Add(Protocol::kSacn, "9", error));
    StoreSink sink;
    bridge::Bridge b(mapping, true, sink);
    b.SetVersion(3, 200);
    b.SetNodeName("FOH \x1b bridge", std::string(80, 'L'));
    ReplyRecorder recorder;
    ArtDmxFields dmx;
    dmx.portAddress = 1;  // 0:0:1 gets a source: GoodOutput says so
    const Bytes data = dmx.Build();
    b.OnArtnet(data.data(), data.size(), 0x0A000001, Millis(0), recorder);
    const Bytes poll = ArtPollFields{}.Build();
    b.OnArtnet(poll.data(), poll.size(), 0x0A000001, Millis(0), recorder);
    ASSERT_EQ(recorder.replies.size(), 3u);
    // Reply offsets: 8 OpCode, 10 IP, 14 port, 16 version, 18 NetSwitch, 19 SubSwitch,
    // 173 NumPortsLo, 174 PortTypes, 182 GoodOutput, 190 SwOut, 211 BindIndex.
    const Bytes expected[] = {{0, 0, 4, 0x80, 0x80, 0, 1, 2, 3},  // net, sub-net, ports,
                              {0, 0, 1, 0x80, 0, 4, 0, 0, 0},     // PortTypes[0],
                              {1, 2, 1, 0x80, 0, 3, 0, 0, 0}};    // GoodOutput[1], SwOut
    for (int r = 0; r < 3; ++r) {
        const Bytes& p = recorder.replies[r];
        ASSERT_EQ(p.size(), 239u);
        EXPECT_EQ(
            Bytes(p.begin(), p.begin() + 20),
            (Bytes{'A', 'r', 't', '-', 'N',  'e',  't', 0,   0x00,           0x21,
                   192, 168, 1,   5,   0x36, 0x19, 3,   200, expected[r][0], expected[r][1]}));
        EXPECT_EQ((Bytes{p[173], p[174], p[183], p[190], p[191], p[192], p[193]}),
                  Bytes(expected[r].begin() + 2, expected[r].end()))
            << r;
        EXPECT_EQ(p[211], r + 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[26])), "FOH ? bridge");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[44])), std::string(63, 'L'));
        EXPECT_EQ(Bytes(p.begin() + 201, p.begin() + 207), Bytes(6, 0xA5));  // MAC
    }
    // A targeted poll for 0:0:3..0:0:4 gets one reply with those two.
    const Bytes targeted = ArtPollFields{14, 0x20, true, 4, 3}.Build();
    recorder.replies.clear();
    b.OnArtnet(targeted.data(), targeted.size(), 0x0A000001, Millis(0), recorder);
    ASSERT_EQ(recorder.replies.size(), 1u);
    EXPECT_EQ(recorder.replies[0][173], 2);
    EXPECT_EQ(Bytes(recorder.replies[0].begin() + 190, recorder.replies[0].begin() + 192),
              (Bytes{3, 4}));
}

}  // namespace
}  // namespace lxd::test
