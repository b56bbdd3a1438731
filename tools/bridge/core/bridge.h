// The bridge without its sockets: received datagrams in, block packets for
// the driver and ArtPollReply packets out. Time is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/artnet_universe.h"
#include "tools/bridge/core/counts.h"
#include "tools/bridge/core/discovery.h"
#include "tools/bridge/core/forwarder.h"
#include "tools/bridge/core/io.h"
#include "tools/bridge/core/mapping.h"
#include "tools/bridge/core/poll_limit.h"
#include "tools/bridge/core/port_merge.h"
#include "tools/bridge/core/sacn.h"
#include "tools/bridge/core/sacn_universe.h"
#include "tools/bridge/core/sync.h"
#include "tools/bridge/core/unmapped.h"

namespace lxd::bridge {

// The most inputs: every route of every port from another universe.
inline constexpr int kMaxInputs = kNumPorts * kMaxRoutesPerPort;

class Bridge {
  public:
    Bridge(const Mapping& mapping, bool holdOnLoss, DatagramSink& sink);
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Every sACN universe starts receiving at `now`: its sampling period
    // begins (at start-up, and when groups were joined on a new interface).
    void Listen(Millis now);
    // One datagram received on the sACN port. The levels it changes are sent
    // by the next Flush: a synchronisation packet releases every universe
    // that waits for it, and they all go in that one burst.
    void OnSacn(const std::uint8_t* data, std::size_t size, Millis now, Arrival from = {});
    // One datagram received on the Art-Net port from IPv4 address `from`.
    void OnArtnet(const std::uint8_t* data, std::size_t size, std::uint32_t from, Millis now,
                  ReplySink& replies);
    // Sends the ports whose levels changed.
    void Flush(Millis now);
    // Every kTickInterval: forgets silent sources, applies what waits for a
    // synchronisation that stopped, sends again what is due.
    void Tick(Millis now);

    // How data that names a synchronisation is applied (default kAuto).
    void SetSync(SyncMode mode);
    SyncMode Sync() const { return sync_; }

    void SetVersion(std::uint8_t high, std::uint8_t low);
    // The node's short and long name in ArtPollReply (cut to fit, controls
    // replaced).
    void SetNodeName(const std::string& shortName, const std::string& longName);

    // Takes a new mapping (a configuration reloaded). An input (universe or
    // port-address) routed before and now keeps its sources and counts; new
    // ones start empty (new sACN universes sample from `now`). A port whose
    // routes and rules stayed keeps its levels; the others start from zero
    // and are sent at the next Flush; a port no longer routed is no longer
    // sent.
    void Remap(const Mapping& mapping, bool holdOnLoss, Millis now);

    const Mapping& Map() const { return mapping_; }
    const SacnCounts& Sacn() const { return sacnCounts_; }
    const ArtnetCounts& Artnet() const { return artnetCounts_; }
    // Universes and port-addresses that arrived without being routed.
    const UnmappedSeen& UnmappedSacn() const { return unmappedSacn_; }
    const UnmappedSeen& UnmappedArtnet() const { return unmappedArtnet_; }
    const Forwarder& Output() const { return forwarder_; }

    // The inputs: every universe or port-address routed, once, in the order
    // the routes name them.
    int Inputs() const { return static_cast<int>(inputs_.size()); }
    const PortSource& InputKey(int input) const { return inputs_[input].key; }
    const UniverseCounts& Counts(int input) const { return inputs_[input].counts; }
    // The universe state of an input (null for the other protocol).
    const SacnUniverse* SacnOf(int input) const { return inputs_[input].sacn.get(); }
    const ArtnetUniverse* ArtnetOf(int input) const { return inputs_[input].artnet.get(); }
    int LiveSources(int input) const;
    // How the input is synchronised now.
    PortSync SyncOf(int input) const;
    const SacnSyncStreams& SyncStreams() const { return sacnSync_; }
    const DiscoveredSources& Discovered() const { return *discovered_; }
    // The synchronisation universes that data names (their groups are to be
    // joined), and a count that changes with them.
    int SyncGroups(std::uint16_t* out, int room) const { return sacnSync_.Addresses(out, room); }
    std::uint32_t SyncGroupsVersion() const { return sacnSync_.Version(); }

    // A driver port: its merge (levels, winning route per channel), and which
    // input each of its routes reads (in the merge's route order).
    const PortMerge& Port(int port) const { return ports_[port]; }
    int RouteInput(int port, int route) const { return portRoutes_[port][route]; }

  private:
    struct Input {
        PortSource key;
        std::unique_ptr<SacnUniverse> sacn;
        std::unique_ptr<ArtnetUniverse> artnet;
        UniverseCounts counts;
        int firstRoute = 0;  // its routes in routes_
        int routeCount = 0;
    };
    struct RouteAt {
        int port;
        int first;  // port channels [first, first + count), 0-based
        int count;
    };

    // Builds inputs, routes and ports for `mapping`, keeping what `before`
    // had of the same inputs and ports.
    void Build(const Mapping& mapping, bool holdOnLoss, Millis now, std::vector<Input>* before);
    int FindInput(Protocol protocol, std::uint16_t universe) const;
    // After an input's sources changed: its ports merge again.
    void Changed(int input);
    void AnswerPoll(const ArtPoll& poll, std::uint32_t from, Millis now, ReplySink& replies);
    void OnSync(const SacnSync& sync, Arrival from, Millis now);
    void OnArtSync(std::uint32_t from, Millis now);
    // Releases what waits for the sACN stream (cid, address), for ArtSync from
    // `artFrom`, and under sync = "all" what waits for any synchronisation.
    void Release(const std::uint8_t* cid, std::uint16_t address, std::uint32_t artFrom);
    // Follows synchronisations that stopped (from Tick).
    void ExpireSyncs(Millis now);
    // Whether inputs without a synchronisation of their own wait for one.
    bool HoldingAll() const { return sync_ == SyncMode::kAll && holdingAll_; }

    Mapping mapping_;
    Forwarder forwarder_;
    // Made when the mapping is taken; read on the packet path.
    std::vector<Input> inputs_;
    std::vector<RouteAt> routes_;                             // by input
    std::vector<std::pair<std::uint16_t, int>> sacnIndex_;    // universe -> input, sorted
    std::vector<std::pair<std::uint16_t, int>> artnetIndex_;  // port-address -> input, sorted
    PortMerge ports_[kNumPorts];
    std::vector<int> portRoutes_[kNumPorts];  // per port: the input of each route
    std::uint32_t clock_ = 0;                 // change stamps for ltp
    SacnCounts sacnCounts_;
    ArtnetCounts artnetCounts_;
    NodeIdentity node_;
    PollLimit pollLimit_;
    UnmappedSeen unmappedSacn_;
    UnmappedSeen unmappedArtnet_;
    SyncMode sync_ = SyncMode::kAuto;
    SacnSyncStreams sacnSync_;
    ArtSyncSources artSync_;
    // sync = "all": a synchronisation was taken within its time-out (until
    // then), so other inputs wait for the next one.
    bool holdingAll_ = false;
    Millis holdAllUntil_{0};
    std::unique_ptr<DiscoveredSources> discovered_;
};

}  // namespace lxd::bridge
