// The bridge without sockets: port mapping from the command line, block
// packets as the driver applies them, the once-a-second refresh, on-loss,
// counts, and the ArtPollReply packets a console sees. And its sockets on
// loopback while the cards change under traffic.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "intake/datagram.h"
#include "protocol/block_writer.h"
#include "protocol/layout.h"
#include "tests/support/bridge_packets.h"
#if defined(__linux__)
#include <net/if.h>

#include "tests/support/netns.h"
#endif
#include "tools/bridge/console/view.h"
#include "tools/bridge/core/bridge.h"
#include "tools/bridge/net/datagram_io.h"
#include "tools/bridge/net/network.h"
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
    int bursts = 0;
    int SendBurst(const bridge::Datagram* datagrams, int count) override {
        ++bursts;
        return DatagramSink::SendBurst(datagrams, count);
    }
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
    void Send(std::uint16_t universe, const Bytes& slots, int at, std::uint8_t startCode = 0) {
        SacnFields f;
        f.universe = universe;
        f.startCode = startCode;
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

// Data of a universe nobody maps goes no further than its number: counted and
// noted as not mapped, even when the rest is malformed. All else is parsed.
TEST(BridgeUnmapped, DataOfAUniverseNotMappedIsDroppedAtItsNumber) {
    using P = bridge::SacnParse;
    const std::pair<void (*)(SacnFields&), P> cases[] = {
        // kNotData here: not parsed
        {[](SacnFields& f) { f.universe = 9; }, P::kNotData},
        {[](SacnFields& f) { f.universe = 9, f.dmpVector = 1; }, P::kNotData},
        {[](SacnFields& f) { f.dmpVector = 1; }, P::kDmpLayer},
        {[](SacnFields& f) { f.universe = 9, f.rootVector = 8; }, P::kDiscoveryLayer},
        {[](SacnFields& f) { f.universe = 9, f.keep = 114; }, P::kTruncated},
    };
    bridge::Mapping mapping;
    std::string error;
    ASSERT_TRUE(mapping.Add(Protocol::kSacn, "1", error));
    StoreSink sink;
    bridge::Bridge b(mapping, true, sink);
    for (const auto& [change, parsed] : cases) {
        SacnFields f;
        change(f);
        const Bytes p = f.Build();
        const bridge::SacnCounts before = b.Sacn();
        b.OnSacn(p.data(), p.size(), Millis(0));
        const int i = static_cast<int>(parsed);
        EXPECT_EQ(b.Sacn().unmapped - before.unmapped + b.Sacn().parsed[i] - before.parsed[i], 1u);
        EXPECT_EQ(b.Sacn().unmapped - before.unmapped, parsed == P::kNotData ? 1u : 0u) << i;
    }
    ASSERT_EQ(b.UnmappedSacn().Count(), 1);
    EXPECT_EQ(b.UnmappedSacn().At(0).universe, 9);
    EXPECT_EQ(b.UnmappedSacn().At(0).packets, 2u);
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
    Send(2, {}, 0, 0xDD);  // on universe 2 a source that sent no levels yet
    bridge::SnapshotTaker taker;
    bridge::NetworkStatus network;
    network.interfaces.push_back({"vl", "10.101.0.5", "", 3, {1, 2}, {}, ""});
    taker.Take(*bridge_, network, {}, Millis(0));
    Send(1, {9}, 500);  // a fifth source, CID 1s: the first one again
    const bridge::Snapshot shot = taker.Take(*bridge_, network, {}, Millis(1000));
    ASSERT_EQ(shot.ports.size(), 2u);
    ASSERT_EQ(shot.ports[1].sources.size(), 1u);
    EXPECT_EQ(shot.ports[1].sources[0].state, bridge::SourceState::kWaiting);
    const bridge::PortStatus& port = shot.ports[0];
    EXPECT_EQ(port.levels[0], 9);
    std::uint8_t pushed[kChannelsPerPort];  // what the page's WebSockets are sent
    ASSERT_TRUE(bridge::ReadPortLevels(*bridge_, 0, pushed));
    EXPECT_TRUE(std::equal(port.levels.begin(), port.levels.end(), pushed));
    for (const int unrouted : {-1, 2, kNumPorts}) {
        EXPECT_FALSE(bridge::ReadPortLevels(*bridge_, unrouted, pushed)) << unrouted;
    }
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

// Answers pollers on 10.0.0.0/8 from 192.168.1.5 (as if polled there).
struct ReplyRecorder : bridge::ReplySink {
    std::vector<Bytes> replies;
    std::uint32_t OwnAddressFor(std::uint32_t poller) override {
        return poller >> 24 == 10 ? 0xC0A80105 : 0;
    }
    void MacFor(std::uint32_t address, std::uint8_t* mac) override {
        EXPECT_EQ(address, 0xC0A80105u);
        std::fill(mac, mac + 6, 0xA5);
    }
    void Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) override {
        EXPECT_EQ(poller >> 24, 10u);
        replies.emplace_back(data, data + size);
    }
};

// Synchronisation and discovery as steps in time, "AT EVENT=STATE" each:
//   dU:V@S  sACN levels V for universe U from source A (CID 1) naming
//           synchronisation universe S (none without @S); fU:V@S with the
//           Force_Synchronization option set
//   sS#Q    A's synchronisation packet for S, sequence Q; SS#Q the same from B
//   aP:V<N  ArtDmx of levels V for port-address P from 10.0.0.N;  yN  ArtSync from it
//   pC:P/L:U,U  discovery page P of L from CID C (named A, B, ...), universes U
//   t       a tick
// STATE: after the step and a Flush (one burst at most), the first level of
// each mapped port at the driver, then " | " and each discovered source with
// its universes.
struct StepRun {
    const char* name;
    bridge::SyncMode mode;
    const char* sacn;  // mapped from port 0, then the Art-Net port-addresses
    const char* artnet;
    const char* steps;
    const char* end;  // port 0's synchronisation and its syncs that stopped, at the end
};

// Runs one table row.
void RunSteps(const StepRun& run) {
    SCOPED_TRACE(run.name);
    bridge::Mapping mapping;
    std::string error;
    ASSERT_TRUE(!*run.sacn || mapping.Add(Protocol::kSacn, run.sacn, error));
    const std::string artnet =
        run.artnet + std::string("@") + std::to_string(mapping.Count(Protocol::kSacn));
    ASSERT_TRUE(!*run.artnet || mapping.Add(Protocol::kArtnet, artnet, error));
    StoreSink sink;
    bridge::Bridge b(mapping, true, sink);
    b.SetSync(run.mode);
    ReplyRecorder replies;
    std::uint8_t sequence = 0;
    const std::string steps = run.steps;
    for (std::size_t at = 0, end; at < steps.size(); at = end + 1) {
        end = std::min(steps.find(';', at), steps.size());
        const std::string step = steps.substr(at, end - at);
        const std::size_t equals = step.find('=');
        SCOPED_TRACE(step);
        int ms = 0, x = 0, y = 0, z = 0;
        char kind = 0;
        char list[200] = "";
        ASSERT_EQ(std::sscanf(step.c_str(), "%d %c", &ms, &kind), 2);
        const char* event = step.c_str() + step.find(kind) + 1;
        const Millis now(ms);
        const int bursts = sink.bursts;
        if (kind == 'd' || kind == 'f') {
            SacnFields f;
            ASSERT_GE(std::sscanf(event, "%d:%d@%d", &x, &y, &z), 2);
            f.universe = static_cast<std::uint16_t>(x);
            f.slots = {static_cast<std::uint8_t>(y)};
            f.syncAddress = static_cast<std::uint16_t>(z);
            f.options = kind == 'f' ? 0x20 : 0;
            f.sequence = ++sequence;
            const Bytes p = f.Build();
            b.OnSacn(p.data(), p.size(), now, {0x0A000001, 1});
        } else if (kind == 's' || kind == 'S') {
            ASSERT_EQ(std::sscanf(event, "%d#%d", &x, &y), 2);
            const Bytes p = SacnSync(static_cast<std::uint16_t>(x), static_cast<std::uint8_t>(y),
                                     kind == 's' ? 1 : 2);
            b.OnSacn(p.data(), p.size(), now, {0x0A000001, 1});
        } else if (kind == 'a' || kind == 'y') {
            ArtDmxFields f;
            ASSERT_GE(std::sscanf(event, kind == 'a' ? "%d:%d<%d" : "%d", &x, &y, &z), 1);
            f.portAddress = static_cast<std::uint16_t>(x);
            f.data = {static_cast<std::uint8_t>(y)};
            const Bytes p = kind == 'a' ? f.Build() : ArtSync();
            b.OnArtnet(p.data(), p.size(), 0x0A000000u + (kind == 'a' ? z : x), now, replies);
        } else if (kind == 'p') {
            ASSERT_GE(std::sscanf(event, "%d:%d/%d:%199[0-9,]", &x, &y, &z, list), 3);
            std::vector<std::uint16_t> universes;
            for (char* u = std::strtok(list, ","); u != nullptr; u = std::strtok(nullptr, ",")) {
                universes.push_back(static_cast<std::uint16_t>(std::atoi(u)));
            }
            const Bytes p = SacnDiscoveryPage(universes, y, z, static_cast<std::uint8_t>(x),
                                              std::string(1, static_cast<char>('A' + x - 1)));
            b.OnSacn(p.data(), p.size(), now, {0x0A000000u + x, 1});
        } else {
            ASSERT_EQ(kind, 't');
            b.Tick(now);
        }
        b.Flush(now);
        EXPECT_LE(sink.bursts - bursts, 1);
        std::string state;
        for (int p = 0; p < kNumPorts; ++p) {
            if (mapping.Mapped(p)) {
                state += (state.empty() ? "" : " ") + std::to_string(sink.Port(p)[0]);
            }
        }
        for (int i = 0; i < bridge::DiscoveredSources::kSources; ++i) {
            const auto& d = b.Discovered().Slot(i);
            state += !d.used ? ""
                             : (state.find('|') == std::string::npos ? " | " : " ") +
                                   std::string(d.name) + ":";
            for (int u = 0; u < (d.used ? d.count : 0); ++u) {
                state += (u ? "," : "") + std::to_string(d.universes[u]);
            }
        }
        EXPECT_EQ(state, step.substr(equals + 1));
    }
    const bridge::PortSync sync = b.SyncOf(0);
    EXPECT_EQ(std::string(bridge::SyncKindName(sync.kind)) + " " + std::to_string(sync.address) +
                  (sync.locked ? " locked" : "") + " /" + std::to_string(b.Counts(0).syncFallbacks),
              run.end);
    std::uint16_t groups[4];
    const int named = b.SyncGroups(groups, 4);
    EXPECT_EQ(named, std::strstr(run.steps, "@100") && run.mode != bridge::SyncMode::kOff ? 1 : 0);
    EXPECT_TRUE(named == 0 || groups[0] == 100);
}

TEST(BridgeSync, LevelsWaitForTheirSynchronisationAsTheStepsSay) {
    using M = bridge::SyncMode;
    const StepRun runs[] = {
        // After the first sync, data that names it waits and goes with the next;
        // data without a synchronisation address goes at once.
        {"sACN sync", M::kAuto, "1-3", "",
         "0 d1:10@100=10 0 0;5 s100#1=10 0 0;10 d1:11@100=10 0 0;11 d2:21@100=10 0 0;"
         "12 d3:31=10 0 31;20 s100#2=11 21 31",
         "sacn 100 /0"},
        // A sync of another source or universe, or out of order, releases nothing.
        {"other syncs", M::kAuto, "1", "",
         "0 d1:10@100=10;1 s100#5=10;2 d1:11@100=10;3 S100#6=10;4 s101#6=10;5 s100#5=10;"
         "6 s100#250=10;7 s100#6=11",
         "sacn 100 /0"},
        // Sync stops, Force_Synchronization set: as it comes after 2.5 s,
        // synchronised again when it returns.
        {"sync stops, may revert", M::kAuto, "1", "",
         "0 f1:10@100=10;0 s100#1=10;100 f1:11@100=10;2499 t=10;2500 t=11;2600 f1:12@100=12;"
         "2700 s100#2=12;2710 f1:13@100=12;2720 s100#3=13",
         "sacn 100 /1"},
        // Sync stops, Force_Synchronization clear: the synchronised look stays
        // until it returns.
        {"sync stops, locked", M::kAuto, "1", "",
         "0 d1:10@100=10;0 s100#1=10;100 d1:11@100=10;2500 t=10;2600 d1:12@100=10;"
         "5000 d1:13@100=10;5001 t=10;5100 s100#2=13",
         "sacn 100 /1"},
        {"sync = off", M::kOff, "1", "", "0 d1:10@100=10;1 s100#1=10;2 d1:11@100=11", "none 0 /0"},
        // ArtSync: its source's ArtDmx waits for the next, on every port it
        // feeds; another address's ArtSync is ignored.
        {"ArtSync", M::kAuto, "", "0-1",
         "0 a0:10<1=10 0;1 y1=10 0;2 a0:11<1=10 0;3 a1:21<1=10 0;4 y2=10 0;5 y1=11 21",
         "artsync 0 /0"},
        {"ArtSync stops for 4 s", M::kAuto, "", "0",
         "0 a0:10<1=10;0 y1=10;100 a0:11<1=10;3999 t=10;4000 t=11;4100 a0:12<1=12", "none 0 /1"},
        // Two Art-Net sources merging on a port ignore ArtSync; the second
        // source's arrival releases what waited.
        {"ArtSync, merging", M::kAuto, "", "0",
         "0 a0:10<1=10;1 y1=10;2 a0:11<1=10;3 a0:5<2=11;4 a0:12<1=12;5 y1=12", "none 0 /0"},
        // Art-Net and sACN without an address wait for the rig's sync, and flow
        // again 2.5 s after it stops; universe 1 keeps its synchronised look.
        {"sync = all", M::kAll, "1-2", "0",
         "0 d1:10@100=10 0 0;1 s100#1=10 0 0;2 d1:11@100=10 0 0;3 d2:21=10 0 0;"
         "4 a0:31<1=10 0 0;5 s100#2=11 21 31;1000 t=11 21 31;2000 d1:12@100=11 21 31;"
         "2000 d2:22=11 21 31;2000 a0:32<1=11 21 31;2505 t=11 22 32;2600 a0:33<1=11 22 33",
         "sacn 100 locked /1"},
        // Discovery: pages in turn make a source's list, a new round replaces
        // it, a source silent for 30 s is dropped.
        {"discovery", M::kAuto, "1", "",
         "0 p1:0/1:1,2=0 | A:1,2;1 p1:1/1:7=0 | A:1,2,7;2 p1:1/1:8=0 | A:1,2,7;"
         "3 p2:1/1:9=0 | A:1,2,7;4 p2:0/0:=0 | A:1,2,7 B:;10000 p1:0/0:5=0 | A:5 B:;"
         "30003 t=0 | A:5 B:;30004 t=0 | A:5",
         "none 0 /0"},
    };
    for (const StepRun& run : runs) {
        RunSteps(run);
    }
}

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

    // A flood multiplies into little: three reply sets a second to a poller
    // (two were sent), twenty to all, none to a poller on no network of ours.
    recorder.replies.clear();
    const std::pair<int, std::uint32_t> polls[] = {
        {0, 0x0A000001}, {999, 0x0A000001}, {1000, 0x0A000001}, {1000, 0xC0A80101}};
    for (const auto& [at, poller] : polls) {
        b.OnArtnet(poll.data(), poll.size(), poller, Millis(at), recorder);
    }
    for (std::uint32_t n = 0; n < 30; ++n) {  // thirty pollers in one second
        b.OnArtnet(poll.data(), poll.size(), 0x0A000100 + n, Millis(5000), recorder);
    }
    EXPECT_EQ(recorder.replies.size(), 3u * (1 + 1 + bridge::kPollRepliesPerSecond));
    EXPECT_EQ(b.Artnet().pollsIgnored, 12u);
}

// The card a poll is answered from: the network of the card it came in by
// holds the poller, or the poller is this machine.
TEST(BridgeArtPoll, RepliesOnlyToPollersOnTheArrivalCardsNetwork) {
    std::vector<bridge::Interface> cards(3);  // lo, va0 10.101.0.5/16, vw 192.168.77.5/24
    cards[0].index = 1, cards[0].address = 0x7F000001, cards[0].netmask = 0xFF000000;
    cards[1].index = 2, cards[1].address = 0x0A650005, cards[1].netmask = 0xFFFF0000;
    cards[2].index = 3, cards[2].address = 0xC0A84D05, cards[2].netmask = 0xFFFFFF00;
    // {arrival interface (0: not told), poller, the card answering (3: none)}
    const std::uint32_t cases[][3] = {{2, 0x0A650001, 1}, {1, 0x7F000003, 0}, {2, 0xC0A84D01, 3},
                                      {2, 0x0B000001, 3}, {1, 0x0A650005, 1}, {0, 0xC0A84D09, 2}};
    for (const auto& [via, poller, card] : cases) {
        const bridge::Interface* answering = bridge::ReplyCard(cards, via, poller);
        EXPECT_EQ(answering == nullptr ? 3 : answering - cards.data(), card)
            << via << " " << poller;
    }
}

// A card whose address changes, or that goes, takes its receive sockets
// with it while a completion for them may be queued already (Windows
// completes waits through its completion port, after the socket closed):
// that completion must find its receiver closed, not freed (under Wine the
// heap fills freed memory, cmake/wine_prefix.sh, so such a use fails). The
// test is the card list (127.0.0.1, then 127.0.0.2, then none, again and
// again) and keeps the old sockets readable with multicast on loopback.
TEST(BridgeNetwork, CardsChangingUnderTrafficLeaveNoReceiverBehind) {
#if defined(__linux__)
    if (!EnterPrivateNetwork()) {
        GTEST_SKIP() << "the bridge's sockets are opened only in a network namespace (root)";
    }
#endif
    using asio::ip::udp;
    int change = 0;
    auto cards = [&change] {
        bridge::Interface lo;
        lo.address = 0x7F000001u + static_cast<std::uint32_t>(change % 3);
        lo.loopback = true;
        return std::vector<bridge::Interface>(change % 3 == 2 ? 0 : 1, lo);
    };
    asio::io_context io;
    bridge::Mapping mapping;
    std::string error;
    ASSERT_TRUE(mapping.Add(Protocol::kSacn, "1", error));
    bridge::NetworkSettings settings;
    settings.sacnPort = 0;
    settings.toPort = 9;  // nobody there: the levels are read from the bridge
    bridge::Network network(io, cards);
    ASSERT_TRUE(network.Open(settings, mapping, error)) << error;
    bridge::Bridge b(mapping, true, network);
    network.Start(b);
    udp::socket console(io, udp::v4());
    console.set_option(asio::ip::multicast::outbound_interface(asio::ip::address_v4::loopback()));
    const udp::endpoint group(asio::ip::make_address_v4("239.255.0.1"), network.SacnPort());
    SacnFields f;
    for (int i = 1; i <= 61; ++i) {  // the last one on the card it started with
        f.sequence = f.slots[0] = static_cast<std::uint8_t>(i);
        console.send_to(asio::buffer(f.Build()), group);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // its completion queued
        change += i < 61 ? 1 : 0;
        network.Rescan();
        io.poll();
    }
    for (int wait = 0; wait < 200 && b.Port(0).Levels()[0] != 61; ++wait) {
        io.run_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(b.Port(0).Levels()[0], 61) << "the levels arrive after the changes";
}

// One receive takes what waits, up to 64 datagrams, each with its sender and
// the interface it arrived on; a datagram longer than the room is cut to it.
TEST(BridgeNetwork, AReceiveTakesABatchWithSendersAndArrival) {
    using asio::ip::udp;
    const std::pair<std::vector<std::size_t>, std::vector<int>> cases[] = {
        {{10, 638, 2000}, {3, 0}},  // sizes sent from 127.0.0.2, what each receive takes
        {std::vector<std::size_t>(70, 100), {64, 6, 0}},
    };
    asio::io_context io;
    udp::socket in(io, udp::endpoint(asio::ip::address_v4::loopback(), 0));
    in.non_blocking(true);
    bridge::AskForPacketInfo(in);
    udp::socket out(io, udp::endpoint(asio::ip::make_address_v4("127.0.0.2"), 0));
    bridge::ReceiveBatch batch;
    for (const auto& [sizes, batches] : cases) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            out.send_to(asio::buffer(Bytes(sizes[i], static_cast<std::uint8_t>(i))),
                        in.local_endpoint());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::size_t next = 0;
        for (const int expected : batches) {
            ASSERT_EQ(batch.Receive(in), expected) << sizes.size();
            for (int i = 0; i < expected; ++i, ++next) {
                const bridge::Received& d = batch.Datagrams()[i];
                EXPECT_EQ(d.size, std::min(sizes[next], bridge::kDatagramRoom));
                EXPECT_EQ(d.data[d.size - 1], static_cast<std::uint8_t>(next));
#if defined(__linux__)  // (under Wine they leave from 127.0.0.1)
                EXPECT_EQ(d.from.address, 0x7F000002u);
                EXPECT_EQ(d.from.via, if_nametoindex("lo"));
#endif
            }
        }
    }
}

// The event loop reads all that waits, also past the 256 datagrams one
// socket hands over in a turn (the rest in the next turn, without waiting for
// another to arrive), and sends what the sockets readable in one turn changed
// in one burst: here universes 1 and 21, which arrive on two sockets (20
// groups each), share one block packet.
TEST(BridgeNetwork, ReadsAllThatWaitsAndSendsOnceATurn) {
#if defined(__linux__)
    if (!EnterPrivateNetwork(true)) {
        GTEST_SKIP() << "the bridge's sockets are opened only in a network namespace (root)";
    }
#endif
    using asio::ip::udp;
    const struct {
        std::vector<std::uint16_t> universes;  // one datagram each, in turn
        bool multicast;
        int sent;                    // block packets at the driver
        std::uint8_t port0, port20;  // their first levels
    } cases[] = {{{1, 21}, true, 1, 1, 2}, {std::vector<std::uint16_t>(300, 1), false, 2, 44, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.universes.size());
        asio::io_context io{1};
        udp::socket driver(io, udp::endpoint(asio::ip::address_v4::loopback(), 0));
        driver.non_blocking(true);
        bridge::Network network(io, [] {
            bridge::Interface lo;
            lo.address = 0x7F000001;
            lo.loopback = true;
            return std::vector<bridge::Interface>{lo};
        });
        bridge::Mapping mapping;
        std::string error;
        ASSERT_TRUE(mapping.Add(Protocol::kSacn, "1-21", error));
        bridge::NetworkSettings settings;
        settings.sacnPort = 0;
        settings.toPort = driver.local_endpoint().port();
        ASSERT_TRUE(network.Open(settings, mapping, error)) << error;
        bridge::Bridge b(mapping, true, network);
        network.Start(b);
        udp::socket console(io, udp::v4());
        console.set_option(
            asio::ip::multicast::outbound_interface(asio::ip::address_v4::loopback()));
        for (std::size_t i = 0; i < c.universes.size(); ++i) {
            SacnFields f;
            f.universe = c.universes[i];
            f.sequence = static_cast<std::uint8_t>(i);
            f.slots = {static_cast<std::uint8_t>(i + 1)};
            const auto to = c.multicast
                                ? asio::ip::address_v4(bridge::SacnMulticastGroup(f.universe))
                                : asio::ip::address_v4::loopback();
            console.send_to(asio::buffer(f.Build()), udp::endpoint(to, network.SacnPort()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        io.run_for(std::chrono::milliseconds(200));
#if defined(_WIN32)  // which hands a group's datagrams to every socket on the port
        EXPECT_GE(b.Sacn().datagrams, c.universes.size());
#else
        EXPECT_EQ(b.Sacn().datagrams, c.universes.size());
#endif
        std::vector<std::uint8_t> store(kStoreSize, 0);
        std::uint8_t buffer[kLargestDatagram];
        int sent = 0;
        asio::error_code ec;
        for (std::size_t n; (n = driver.receive(asio::buffer(buffer), 0, ec)) > 0; ++sent) {
            ApplyDatagram(buffer, static_cast<std::uint32_t>(n), store.data(), {});
        }
        EXPECT_EQ(sent, c.sent);
        EXPECT_EQ(store[0], c.port0);
        EXPECT_EQ(store[20 * 512], c.port20);
    }
}

}  // namespace
}  // namespace lxd::test
