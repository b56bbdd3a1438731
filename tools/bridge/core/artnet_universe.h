// The sources of one Art-Net port-address: at most two; a third is ignored
// while two are live. The ports it feeds merge them (Levels()), at Art-Net's
// priority unless a route gives one. ArtDmx may be held for a
// synchronisation.
#pragma once

#include <cstdint>

#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/counts.h"
#include "tools/bridge/core/io.h"
#include "tools/bridge/core/port_merge.h"
#include "tools/bridge/core/sync.h"

namespace lxd::bridge {

inline constexpr int kArtnetMaxSources = 2;
inline constexpr Millis kArtnetSourceTimeout{10000};

enum class ArtnetVerdict : std::uint8_t {
    kLevels,       // taken
    kThirdSource,  // dropped: two other sources are live
    kHeld,         // taken, kept aside until a synchronisation
};

struct ArtnetSource {
    bool used = false;
    std::uint32_t address = 0;  // IPv4, host order: Art-Net tells sources apart by address
    Millis last{0};
    std::uint64_t packets = 0;
    std::uint32_t generation = 0;  // changes when the slot takes a new source
    Hold held = Hold::kNo;         // what the levels in `pending` wait for
    std::uint8_t levels[kChannelsPerPort] = {};
    std::uint32_t changes[kChannelsPerPort] = {};  // when each level last changed
    std::uint8_t pending[kChannelsPerPort] = {};
};

class ArtnetUniverse {
  public:
    ArtnetUniverse() = default;
    // The ports' merge reads the sources in place: a universe stays where it is.
    ArtnetUniverse(const ArtnetUniverse&) = delete;
    ArtnetUniverse& operator=(const ArtnetUniverse&) = delete;

    // Levels with a `hold` are kept aside (kHeld) until ReleaseHeld. A second
    // source starting to merge releases what waits for ArtSync: merged
    // sources do not synchronise.
    ArtnetVerdict Apply(const ArtDmx& dmx, std::uint32_t from, Millis now, Hold hold = Hold::kNo);
    // Merges what the source at `from` holds for its ArtSync (none when 0)
    // and, with `any`, what every source holds for any synchronisation. True
    // when levels were released.
    bool ReleaseHeld(std::uint32_t from, bool any);
    // Whether a source other than `address` is live here.
    bool OtherThan(std::uint32_t address) const;
    // Forgets sources silent for 10 s; returns how many.
    int Expire(Millis now);

    // The live sources, for the ports this port-address feeds.
    const InputLevels& Levels() const { return levels_; }
    // True once after the sources or their levels changed; `afterLoss` is set
    // when sources left.
    bool TakeChange(bool& afterLoss) { return change_.Take(afterLoss); }
    // Each source stamps every level that changes with the next value of
    // `clock` (for ports that merge latest-takes-precedence).
    void StampChanges(std::uint32_t* clock) { clock_ = clock; }
    int LiveSources() const;
    std::uint32_t SourcesSeen() const { return seen_; }
    const ArtnetSource& Slot(int i) const { return sources_[i]; }

  private:
    void Remerge(bool afterLoss = false);
    // ReleaseHeld without the merge; `allSyncs`: what every source holds for ArtSync.
    bool Unhold(std::uint32_t from, bool any, bool allSyncs);

    ArtnetSource sources_[kArtnetMaxSources];
    InputLevels levels_;
    InputChange change_;
    std::uint32_t* clock_ = nullptr;
    std::uint32_t seen_ = 0;
};

}  // namespace lxd::bridge
