// The bridge without its sockets: received datagrams in, block packets for
// the driver and ArtPollReply packets out. Time is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/artnet_universe.h"
#include "tools/bridge/core/counts.h"
#include "tools/bridge/core/discovery.h"
#include "tools/bridge/core/forwarder.h"
#include "tools/bridge/core/io.h"
#include "tools/bridge/core/mapping.h"
#include "tools/bridge/core/poll_limit.h"
#include "tools/bridge/core/sacn.h"
#include "tools/bridge/core/sacn_universe.h"
#include "tools/bridge/core/sync.h"
#include "tools/bridge/core/unmapped.h"

namespace lxd::bridge {

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

    // Takes a new mapping (a configuration reloaded). A port fed by the same
    // universe as before keeps its sources, levels and counts; the others
    // start empty (new sACN universes sample from `now`), and a port no longer mapped is no longer
    // sent. Ports that changed are sent at the next Flush (their levels now start from zero).
    void Remap(const Mapping& mapping, bool holdOnLoss, Millis now);

    const Mapping& Map() const { return mapping_; }
    const UniverseCounts& Counts(int port) const { return counts_[port]; }
    const SacnCounts& Sacn() const { return sacnCounts_; }
    const ArtnetCounts& Artnet() const { return artnetCounts_; }
    // Universes and port-addresses that arrived without being mapped.
    const UnmappedSeen& UnmappedSacn() const { return unmappedSacn_; }
    const UnmappedSeen& UnmappedArtnet() const { return unmappedArtnet_; }
    const Forwarder& Output() const { return forwarder_; }
    // The universe state of a mapped port (null for the other protocol).
    const SacnUniverse* SacnAt(int port) const;
    const ArtnetUniverse* ArtnetAt(int port) const;
    int LiveSources(int port) const;
    // How the port is synchronised now.
    PortSync SyncOf(int port) const;
    const SacnSyncStreams& SyncStreams() const { return sacnSync_; }
    const DiscoveredSources& Discovered() const { return *discovered_; }
    // The synchronisation universes that data names (their groups are to be
    // joined), and a count that changes with them.
    int SyncGroups(std::uint16_t* out, int room) const { return sacnSync_.Addresses(out, room); }
    std::uint32_t SyncGroupsVersion() const { return sacnSync_.Version(); }

  private:
    void TakeChange(int port, MergedOutput& output);
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
    // Universe state, allocated once for the mapped ports.
    std::unique_ptr<SacnUniverse[]> sacn_;
    std::unique_ptr<ArtnetUniverse[]> artnet_;
    int slot_[kNumPorts];  // index into sacn_ or artnet_, -1 unmapped
    UniverseCounts counts_[kNumPorts];
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
