#include "tools/bridge/status/json.h"

#include <nlohmann/json.hpp>

namespace lxd::bridge {
namespace {

using nlohmann::json;

const char* ProtocolName(Protocol protocol) {
    return protocol == Protocol::kSacn ? "sacn" : "artnet";
}

// The mapped port whose universe is one away from `universe`: a console
// counting from 1 where the other counts from 0.
std::string Near(const Snapshot& s, Protocol protocol, std::uint16_t universe) {
    for (const PortStatus& port : s.ports) {
        if (port.protocol == protocol &&
            (port.universe + 1 == universe || universe + 1 == port.universe)) {
            return "one away from " + port.label + " on port " + std::to_string(port.port) +
                   ": numbered from 1 instead of 0, or the other way round?";
        }
    }
    return "";
}

json Unmapped(const Snapshot& s, Protocol protocol, const std::vector<UnmappedStatus>& seen) {
    json list = json::array();
    for (const UnmappedStatus& u : seen) {
        json entry = {{"packets", u.packets},
                      {"last_seen", u.lastSeen},
                      {"near", Near(s, protocol, u.universe)}};
        if (protocol == Protocol::kSacn) {
            entry["universe"] = u.universe;
        } else {
            entry["port_address"] = u.universe;
            entry["label"] = ArtnetAddressText(u.universe);
        }
        list.push_back(std::move(entry));
    }
    return list;
}

json Source(const SourceStatus& src) {
    return {{"name", src.name},
            {"input", src.input},
            {"address", src.address},
            {"cid", src.cid},
            {"priority", src.priority},
            {"per_address", src.perAddress},
            {"state", SourceStateName(src.state)},
            {"packets_per_second", src.packetsPerSecond},
            {"packets", src.packets},
            {"sequence_errors", src.sequenceErrors},
            {"last_seen", src.lastSeen}};
}

json Port(const PortStatus& port) {
    json dropped = json::object();
    for (const Drop d : DropsOf(port.protocol)) {
        dropped[DropName(d)] = port.counts.dropped[static_cast<int>(d)];
    }
    json sources = json::array();
    json live = json::array();
    for (const SourceStatus& src : port.sources) {
        sources.push_back(Source(src));
        if (src.state == SourceState::kLive) {
            live.push_back(src.name);
        }
    }
    json routes = json::array();
    for (const RouteStatus& r : port.routes) {
        routes.push_back({{"input", r.input},
                          {"channels", std::to_string(r.first) + "-" + std::to_string(r.last)},
                          {"at", r.at},
                          {"priority", r.priority < 0 ? json(nullptr) : json(r.priority)}});
    }
    return {{"port", port.port},
            {"routes", std::move(routes)},
            {"merge", port.ltp ? "ltp" : "htp"},
            {"on_loss", port.hold ? "hold" : "zero"},
            {"winners", port.winners},
            {"protocol", ProtocolName(port.protocol)},
            {"universe", port.universe},
            {"label", port.label},
            {"priority", port.priority},
            {"per_address", port.perAddress},
            {"sampling", port.sampling},
            {"packets_per_second", port.packetsPerSecond},
            {"packets", port.packets},
            {"drops", port.drops},
            {"dropped", std::move(dropped)},
            {"sources_seen", port.sourcesSeen},
            {"sources_lost", port.lost},
            {"datagrams_forwarded", port.datagramsForwarded},
            {"live_sources", std::move(live)},
            {"sources", std::move(sources)},
            {"sync",
             {{"kind", SyncKindName(port.sync.kind)},
              {"universe", port.sync.address},
              {"locked", port.sync.locked},
              {"syncs", port.counts.syncs},
              {"fallbacks", port.counts.syncFallbacks}}},
            {"levels", port.levels}};
}

json SyncStreams(const std::vector<SyncStreamStatus>& streams) {
    json list = json::array();
    for (const SyncStreamStatus& y : streams) {
        list.push_back({{"cid", y.cid},
                        {"universe", y.universe},
                        {"state", SyncStateName(y.state)},
                        {"syncs", y.syncs},
                        {"fallbacks", y.fallbacks},
                        {"sequence_errors", y.sequenceErrors}});
    }
    return list;
}

json Discovered(const std::vector<DiscoveredStatus>& sources) {
    json list = json::array();
    for (const DiscoveredStatus& d : sources) {
        list.push_back({{"name", d.name},
                        {"cid", d.cid},
                        {"address", d.address},
                        {"universes", d.universes},
                        {"cut", d.cut},
                        {"last_seen", d.lastSeen}});
    }
    return list;
}

json Interfaces(const NetworkStatus& network) {
    json list = json::array();
    for (const InterfaceStatus& i : network.interfaces) {
        list.push_back({{"name", i.name},
                        {"address", i.address},
                        {"mac", i.mac},
                        {"index", i.index},
                        {"joined", i.joined},
                        {"failed", i.failed},
                        {"error", i.error}});
    }
    return list;
}

}  // namespace

std::string StatusJson(const Snapshot& s, bool levels) {
    json sacnMalformed = json::object();
    for (const SacnParse fault : kSacnFaults) {
        sacnMalformed[SacnParseName(fault)] = s.sacnCounts.parsed[static_cast<int>(fault)];
    }
    json artnetMalformed = json::object();
    for (const ArtnetParse fault : kArtnetFaults) {
        artnetMalformed[ArtnetParseName(fault)] = s.artnetCounts.parsed[static_cast<int>(fault)];
    }
    json ports = json::array();
    for (const PortStatus& port : s.ports) {
        ports.push_back(Port(port));
        if (!levels) {
            ports.back().erase("levels");
            ports.back().erase("winners");
        }
    }
    const json out = {
        {"name", s.name},
        {"seconds", s.seconds},
        {"to", s.to},
        {"datagrams", s.datagramsSent},
        {"send_failures", s.sendFailures},
        {"last_sent_ago", s.lastSentAgo < 0 ? json(nullptr) : json(s.lastSentAgo)},
        {"sacn",
         {{"mapped", s.sacn},
          {"datagrams", s.sacnCounts.datagrams},
          {"malformed", std::move(sacnMalformed)},
          {"not_data", s.sacnCounts.parsed[static_cast<int>(SacnParse::kNotData)]},
          {"unmapped", s.sacnCounts.unmapped},
          {"syncs", s.sacnCounts.parsed[static_cast<int>(SacnParse::kSync)]},
          {"sync_out_of_order", s.sacnCounts.syncOutOfOrder},
          {"sync_unknown", s.sacnCounts.syncUnknown},
          {"discovery_pages", s.sacnCounts.parsed[static_cast<int>(SacnParse::kDiscovery)]}}},
        {"artnet",
         {{"mapped", s.artnet},
          {"datagrams", s.artnetCounts.datagrams},
          {"malformed", std::move(artnetMalformed)},
          {"other", s.artnetCounts.parsed[static_cast<int>(ArtnetParse::kOther)]},
          {"unmapped", s.artnetCounts.unmapped},
          {"polls", s.artnetCounts.parsed[static_cast<int>(ArtnetParse::kPoll)]},
          {"replies", s.artnetCounts.replies},
          {"polls_ignored", s.artnetCounts.pollsIgnored},
          {"syncs", s.artnetCounts.parsed[static_cast<int>(ArtnetParse::kSync)]},
          {"sync_ignored", s.artnetCounts.syncIgnored}}},
        {"sync_mode", SyncModeName(s.syncMode)},
        {"sync_streams", SyncStreams(s.syncStreams)},
        {"network",
         {{"restricted", s.network.restricted},
          {"interfaces", Interfaces(s.network)},
          {"missing", s.network.missing},
          {"receive_buffer_asked", s.network.receiveBufferAsked},
          {"receive_buffer_granted", s.network.receiveBufferGranted},
          {"foreign_datagrams", s.network.foreignDatagrams}}},
        {"universes", std::move(ports)},
        {"unmapped",
         {{"sacn", Unmapped(s, Protocol::kSacn, s.unmappedSacn)},
          {"artnet", Unmapped(s, Protocol::kArtnet, s.unmappedArtnet)}}},
        {"page", s.page.address.empty() ? json(nullptr)
                                        : json{{"address", s.page.address},
                                               {"listening", s.page.listening},
                                               {"attempts", s.page.attempts},
                                               {"error", s.page.error}}},
        {"discovered", Discovered(s.discovered)},
    };
    // Names from the network are printable already; anything else is replaced.
    return out.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace lxd::bridge
