// What the status outputs make of a snapshot, without a bridge or sockets:
// /healthz's verdict, /status.json and the summary at the end of a run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace lxd::test
