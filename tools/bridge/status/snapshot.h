// The bridge's state as plain values, taken on the event loop between
// packets. The views (terminal, summary, web page) read only this: nothing
// that shows the state holds a reference into the forwarding path. Fields
// are kept once published; new ones are added.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/bridge/core/counts.h"
#include "tools/bridge/core/mapping.h"
#include "tools/bridge/core/sync.h"
#include "tools/bridge/net/network_status.h"

namespace lxd::bridge {

struct SourceStatus {
    std::string name;         // sACN source name, controls replaced; Art-Net: the address
    std::string address;      // dotted IPv4 it sends from ("" when unknown)
    std::string cid;          // sACN CID as 8-4-4-4-12 hex digits; "" for Art-Net
    int priority = -1;        // sACN universe priority; -1 for Art-Net
    bool perAddress = false;  // sends per-address priorities (0xDD)
    SourceState state = SourceState::kLive;
    double packetsPerSecond = 0;
    std::uint64_t packets = 0;
    std::uint64_t sequenceErrors = 0;  // sACN packets out of order
    double lastSeen = 0;               // seconds ago
    std::string input;                 // the input it sends: "sACN 7" or "Art-Net 0:0:7"
};

// One route onto a port.
struct RouteStatus {
    std::string input;  // "sACN 7" or "Art-Net 0:0:7"
    int first = 1;      // the input's channels taken, 1-based
    int last = 512;
    int at = 1;         // where the first lands on the port
    int priority = -1;  // given by the route; -1 not
};

struct PortStatus {
    int port = 0;
    Protocol protocol = Protocol::kNone;
    std::uint16_t universe = 0;  // sACN universe or Art-Net port-address
    std::string label;           // "sACN 7" or "Art-Net 0:0:7"
    int priority = -1;           // winning universe priority (sACN), -1 without
    bool perAddress = false;     // a merged source sends per-address priorities
    bool sampling = false;       // sACN: collecting sources, nothing sent yet
    double packetsPerSecond = 0;
    std::uint64_t packets = 0;
    std::uint64_t drops = 0;
    std::uint64_t lost = 0;
    std::uint64_t datagramsForwarded = 0;
    std::array<std::uint8_t, kChannelsPerPort> levels{};
    std::vector<SourceStatus> sources;
    UniverseCounts counts;  // packets, drops by reason, sources lost, syncs and fallbacks
    std::uint32_t sourcesSeen = 0;
    std::string description;  // "universe 7" or "port-address 0:0:7 (7)", one per route
    std::vector<RouteStatus> routes;
    std::array<std::int8_t, kChannelsPerPort> winners{};  // the route that won each channel; -1
    bool ltp = false;                                     // merges latest-takes-precedence
    bool hold = true;                                     // on loss: hold, else zero
    PortSync sync;                                        // how its levels are synchronised now
};

// An sACN source's synchronisation stream: its data names a synchronisation
// universe.
struct SyncStreamStatus {
    std::string cid;             // 8-4-4-4-12 hex digits
    std::uint16_t universe = 0;  // the synchronisation universe
    SyncState state = SyncState::kFree;
    std::uint64_t syncs = 0;      // synchronisation packets taken
    std::uint64_t fallbacks = 0;  // times they stopped
    std::uint64_t sequenceErrors = 0;
};

// A source that announces its universes (sACN universe discovery).
struct DiscoveredStatus {
    std::string name;     // controls replaced
    std::string cid;      // 8-4-4-4-12 hex digits
    std::string address;  // dotted IPv4 of its last announcement
    std::vector<std::uint16_t> universes;
    bool cut = false;     // it announced more than the bridge keeps
    double lastSeen = 0;  // seconds ago
};

// A universe or port-address that arrives without being mapped.
struct UnmappedStatus {
    std::uint16_t universe = 0;
    std::uint64_t packets = 0;
    double lastSeen = 0;  // seconds ago
};

// The status page: where it is to listen and whether it does. One that
// cannot listen yet is tried again every few seconds.
struct PageStatus {
    std::string address;  // ADDR:PORT; "" without a page
    bool listening = false;
    int attempts = 0;   // tries to listen so far
    std::string error;  // why the last failed try failed; "" when none did
};

struct Snapshot {
    double seconds = 0;  // since start
    std::string to;      // HOST:PORT of the driver
    std::uint64_t datagramsSent = 0;
    std::uint64_t sendFailures = 0;
    std::uint64_t sacnDatagrams = 0;
    std::uint64_t sacnMalformed = 0;
    std::uint64_t artnetDatagrams = 0;
    std::uint64_t artnetMalformed = 0;
    std::uint64_t pollsAnswered = 0;
    bool sacn = false;    // sACN universes mapped
    bool artnet = false;  // Art-Net port-addresses mapped
    NetworkStatus network;
    std::vector<PortStatus> ports;  // mapped ports in port order
    std::string name;               // the bridge's name, as consoles see it
    double lastSentAgo = -1;        // seconds since a datagram went to the driver; -1: none yet
    SacnCounts sacnCounts;          // datagrams by parse result
    ArtnetCounts artnetCounts;
    std::vector<UnmappedStatus> unmappedSacn;  // most recently seen first
    std::vector<UnmappedStatus> unmappedArtnet;
    PageStatus page;
    SyncMode syncMode = SyncMode::kAuto;
    std::vector<SyncStreamStatus> syncStreams;
    std::vector<DiscoveredStatus> discovered;  // by name
};

struct RunInfo {
    double seconds = 0;
    std::string to;    // HOST:PORT of the driver
    std::string name;  // the bridge's name, as consoles see it
};

// Dotted IPv4 text of a host-order address.
std::string IpText(std::uint32_t address);

// "sACN 7" or "Art-Net 0:0:7".
std::string ShortSourceText(const PortSource& source);
std::uint64_t TotalDropped(const UniverseCounts& counts);
// Malformed datagrams of each protocol (all parse failures).
std::uint64_t SacnMalformed(const SacnCounts& counts);
std::uint64_t ArtnetMalformed(const ArtnetCounts& counts);

// The parse results that count as malformed datagrams.
inline constexpr SacnParse kSacnFaults[] = {SacnParse::kTruncated,    SacnParse::kRootLayer,
                                            SacnParse::kFramingLayer, SacnParse::kDmpLayer,
                                            SacnParse::kSyncLayer,    SacnParse::kDiscoveryLayer};
inline constexpr ArtnetParse kArtnetFaults[] = {ArtnetParse::kNotArtnet, ArtnetParse::kOldVersion,
                                                ArtnetParse::kBadLength, ArtnetParse::kTruncated,
                                                ArtnetParse::kBadAddress};
// The drop reasons that can happen to a protocol's universes.
std::vector<Drop> DropsOf(Protocol protocol);

}  // namespace lxd::bridge
