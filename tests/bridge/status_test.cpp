// What the status outputs make of a snapshot, without a bridge or sockets:
// /healthz's verdict, /status.json, the status view, the summary at the
// end of a run and the event lines; and the log file those lines go to.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"
#include "tools/bridge/console/view.h"
#include "tools/bridge/service/log.h"
#include "tools/bridge/status/events.h"
#include "tools/bridge/status/health.h"
#include "tools/bridge/status/json.h"
#include "tools/bridge/status/summary.h"

namespace lxd::test {
namespace {

using bridge::Snapshot;
using bridge::SourceState;

// One mapped sACN port with one source in `state`; the driver last reached
// `sentAgo` seconds ago (-1: never), on one interface with universe 1 joined.
Snapshot OnePort(SourceState state, double sentAgo) {
    Snapshot s;
    s.to = "127.0.0.1:2501";
    s.sacn = true;
    s.datagramsSent = sentAgo < 0 ? 0 : 40;
    s.lastSentAgo = sentAgo;
    s.network.interfaces.push_back({"eth0", "10.0.0.5", "", 2, {1}, {}, ""});
    bridge::PortStatus port;
    port.protocol = bridge::Protocol::kSacn;
    port.universe = 1;
    port.label = "sACN 1";
    port.description = "universe 1";
    bridge::SourceStatus source;
    source.name = "Desk";
    source.state = state;
    port.sources.push_back(source);
    s.ports.push_back(port);
    return s;
}

TEST(BridgeStatus, HealthSaysOkOrWhatIsWrong) {
    const SourceState live = SourceState::kLive;
    Snapshot noCard = OnePort(live, 0.5);
    noCard.network.interfaces.clear();
    Snapshot joinsFailed = OnePort(live, 0.5);
    joinsFailed.network.interfaces[0].joined.clear();
    joinsFailed.network.interfaces[0].failed = {1};
    joinsFailed.network.interfaces[0].error = "No buffer space";
    Snapshot failing = OnePort(live, 4.2);
    failing.sendFailures = 3;
    const struct {
        Snapshot snapshot;
        bool ok;
        std::string reason;
    } cases[] = {
        {OnePort(live, 0.5), true, "ok"},
        {OnePort(SourceState::kWaiting, -1), true, "ok"},
        {OnePort(SourceState::kLost, 30), true, "ok"},
        {OnePort(live, -1), false, "sources are live but nothing has reached the driver"},
        {OnePort(live, 3.5), false, "sources are live but nothing reached the driver for 3 s"},
        {failing, false, "nothing reached the driver for 4 s (sending fails)"},
        {noCard, false, "receiving on no interface"},
        {joinsFailed, false, "every multicast join failed: No buffer space"},
    };
    for (const auto& c : cases) {
        const bridge::Health health = bridge::HealthOf(c.snapshot);
        EXPECT_EQ(health.ok, c.ok) << c.reason;
        EXPECT_NE(health.reason.find(c.reason), std::string::npos) << health.reason;
    }
}

TEST(BridgeStatus, JsonAndSummaryTellTheSameSnapshot) {
    Snapshot s = OnePort(SourceState::kLive, 0.1);
    s.seconds = 12.25;
    s.artnet = true;
    s.artnetCounts.parsed[static_cast<int>(bridge::ArtnetParse::kPoll)] = 3;
    s.pollsAnswered = 3;
    s.artnetCounts.replies = 6;
    s.sacnCounts.datagrams = 9;
    s.sacnCounts.parsed[static_cast<int>(bridge::SacnParse::kTruncated)] = 2;
    s.sacnMalformed = 2;
    s.unmappedSacn.push_back({2, 5, 0.5});
    bridge::PortStatus& port = s.ports[0];
    port.packets = 7;
    port.counts.dropped[static_cast<int>(bridge::Drop::kOutOfOrder)] = 2;
    port.drops = 2;
    port.levels[511] = 255;
    s.page = {"10.9.9.9:8250", false, 3, "cannot serve the status page on 10.9.9.9:8250: why"};
    port.sync = {bridge::SyncKind::kSacn, 100, true};
    port.counts.syncs = 12;
    port.counts.syncFallbacks = 1;
    s.sacnCounts.parsed[static_cast<int>(bridge::SacnParse::kSync)] = 12;
    s.discovered.push_back({"Media server", "01", "10.0.0.9", {1, 7}, false, 2.0});
    s.syncStreams.push_back({"01", 100, bridge::SyncState::kLocked, 12, 1, 2});

    const nlohmann::json j = nlohmann::json::parse(bridge::StatusJson(s));
    EXPECT_EQ(j["universes"][0]["label"], "sACN 1");
    EXPECT_EQ(j["universes"][0]["sources"][0]["state"], "live");
    EXPECT_EQ(j["universes"][0]["live_sources"], nlohmann::json::array({"Desk"}));
    EXPECT_EQ(j["universes"][0]["dropped"]["out_of_order"], 2);
    EXPECT_EQ(j["universes"][0]["levels"][511], 255);
    EXPECT_EQ(j["sacn"]["malformed"]["truncated"], 2);
    EXPECT_EQ(j["artnet"]["replies"], 6);
    EXPECT_EQ(j["page"]["listening"], false);
    EXPECT_EQ(j["page"]["attempts"], 3);
    EXPECT_NE(bridge::RenderStatus(s, 200).find(" " + s.page.error + " (3 tries; trying again)\n"),
              std::string::npos);
    EXPECT_EQ(j["universes"][0]["sync"],
              nlohmann::json::parse(R"({"kind": "sacn", "universe": 100, "locked": true, )"
                                    R"("syncs": 12, "fallbacks": 1})"));
    EXPECT_EQ(j["discovered"][0]["universes"], nlohmann::json::array({1, 7}));
    EXPECT_EQ(j["discovered"][0]["address"], "10.0.0.9");
    EXPECT_EQ(j["sacn"]["syncs"], 12);
    EXPECT_EQ(j["sync_streams"][0]["state"], "locked");
    EXPECT_EQ(j["sync_streams"][0]["sequence_errors"], 2);
    EXPECT_NE(j["unmapped"]["sacn"][0]["near"].get<std::string>().find("one away from sACN 1"),
              std::string::npos);
    EXPECT_FALSE(
        nlohmann::json::parse(bridge::StatusJson(s, false))["universes"][0].contains("levels"));

    const std::string summary = bridge::SummaryText(s);
    for (const char* line : {
             "lxdravik-bridge: 12.2 s, 40 datagrams sent to 127.0.0.1:2501\n",
             "  interfaces: eth0 10.0.0.5 (1 groups joined); receive buffer 0 bytes\n",
             "  sACN: 9 datagrams, 2 malformed, 0 for universes not mapped\n",
             "  Art-Net: 0 datagrams, 0 malformed, 0 for port-addresses not mapped, 3 polls "
             "answered with 6 replies\n",
             "  port 0 universe 1: 7 packets, 2 dropped, 0 datagrams forwarded",
             "    dropped: 2 out_of_order\n",
             "  sync auto: 12 sACN synchronisation packets (0 out of order, 0 for no stream "
             "received), 0 ArtSync (0 ignored)\n",
             "  discovered: 1 sources announce 2 universes\n",
             "    synchronised 12 times, 1 syncs stopped\n",
         }) {
        EXPECT_NE(summary.find(line), std::string::npos) << line << "\nin:\n" << summary;
    }
}

// Sources that come and go by the dozen (a flood of random CIDs): a few
// lines, then one that sums up the rest, every 10 s.
TEST(BridgeStatus, EventLinesOfAFloodAreSummedUp) {
    bridge::EventWatch events;
    std::vector<std::string> lines;
    for (int n = 0; n <= 40; ++n) {  // a new source in every snapshot, for 20 s
        Snapshot s = OnePort(SourceState::kLive, 0.1);
        s.seconds = n * 0.5;
        s.ports[0].sources[0].cid = std::to_string(n);
        const std::vector<std::string> changed = events.Changes(s);
        lines.insert(lines.end(), changed.begin(), changed.end());
    }
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[9], "port 0 (sACN 1): source \"Desk\" from , CID 5 appeared");
    EXPECT_EQ(lines[10],
              "14 more sources appeared and 15 were lost in the last 10 s (not "
              "listed one by one)");
    EXPECT_EQ(lines[21],
              "15 more sources appeared and 15 were lost in the last 10 s (not "
              "listed one by one)");
}

// The log file keeps to its bound also where its old copy cannot be
// replaced (a folder in the way): it starts again and says so.
TEST(BridgeLog, KeepsToItsBoundWhenItCannotBeMovedAside) {
    const std::string path = MakeTempDirectory() + "/bridge.log";
    std::filesystem::create_directories(path + ".old/in the way");
    {
        bridge::Log log;
        ASSERT_TRUE(log.ToFile(path, 1000));
        for (int i = 0; i < 200; ++i) {
            log.Line("line " + std::to_string(i) + std::string(20, '.'));
        }
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_LE(text.size(), 1000u);
    EXPECT_TRUE(text.find("): the log starts again here\r\n") < text.find("line 199")) << text;
}

}  // namespace
}  // namespace lxd::test
