// The bridge's state as plain values, taken on the event loop between
// packets. The views (terminal, summary, web page) read only this: nothing
// that shows the state holds a reference into the forwarding path. Fields
// are kept once published; new ones are added.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/bridge/bridge.h"
#include "tools/bridge/report.h"

namespace lxd::bridge {

// One IPv4 interface the bridge receives on (or tried to).
struct InterfaceStatus {
    std::string name;     // "eth0", or the adapter's name on Windows
    std::string address;  // dotted IPv4
    std::string mac;      // "aa:bb:cc:dd:ee:ff", empty when unknown
    std::uint32_t index = 0;
    std::vector<std::uint16_t> joined;  // sACN universes whose group is joined there
    std::vector<std::uint16_t> failed;  // universes whose join failed there
    std::string error;                  // the last join error there, empty if none
};

// What the sockets report: which interfaces, and the receive buffer granted.
struct NetworkStatus {
    bool restricted = false;  // --interface given: others are ignored
    std::vector<InterfaceStatus> interfaces;
    std::vector<std::string> missing;    // --interface names not present (yet)
    int receiveBufferAsked = 0;          // bytes asked for on each receive socket
    int receiveBufferGranted = 0;        // the smallest granted, bytes
    std::uint64_t foreignDatagrams = 0;  // arrived on interfaces not chosen: ignored
};

enum class SourceState : std::uint8_t {
    kWaiting,  // new: held back while sampling or until its per-address priorities come
    kLive,     // merged
    kLost,     // timed out or terminated; still merged until the loss settles
};
const char* SourceStateName(SourceState state);

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
    UniverseCounts counts;  // packets, drops by reason, sources lost
    std::uint32_t sourcesSeen = 0;
};

// A universe or port-address that arrives without being mapped.
struct UnmappedStatus {
    std::uint16_t universe = 0;
    std::uint64_t packets = 0;
    double lastSeen = 0;  // seconds ago
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
};

// Takes snapshots; packets per second count since the previous one.
class SnapshotTaker {
  public:
    Snapshot Take(const Bridge& bridge, const NetworkStatus& network, const RunInfo& run,
                  Millis now);

  private:
    struct Previous {
        // Packets per second of the source in `slot`, remembering its count.
        double SourceRate(int slot, std::uint32_t generation, std::uint64_t packets,
                          double seconds);
        std::uint64_t port = 0;
        std::uint64_t sources[kSacnMaxSources] = {};
        std::uint32_t generation[kSacnMaxSources] = {};
    };
    Previous previous_[kNumPorts];
    Millis last_{0};
    bool started_ = false;
};

}  // namespace lxd::bridge
