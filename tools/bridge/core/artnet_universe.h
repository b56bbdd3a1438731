// The sources of one Art-Net port-address: at most two, merged highest level
// first; a third is ignored while two are live.
#pragma once

#include <cstdint>

#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/merge.h"

namespace lxd::bridge {

inline constexpr int kArtnetMaxSources = 2;
inline constexpr Millis kArtnetSourceTimeout{10000};

enum class ArtnetVerdict : std::uint8_t {
    kLevels,       // taken
    kThirdSource,  // dropped: two other sources are live
};

struct ArtnetSource {
    bool used = false;
    std::uint32_t address = 0;  // IPv4, host order: Art-Net tells sources apart by address
    Millis last{0};
    std::uint64_t packets = 0;
    std::uint32_t generation = 0;  // changes when the slot takes a new source
    std::uint8_t levels[kChannelsPerPort] = {};
};

class ArtnetUniverse {
  public:
    explicit ArtnetUniverse(bool holdOnLoss = true) : output_(holdOnLoss) {}

    ArtnetVerdict Apply(const ArtDmx& dmx, std::uint32_t from, Millis now);
    // Forgets sources silent for 10 s; returns how many.
    int Expire(Millis now);

    MergedOutput& Output() { return output_; }
    const MergedOutput& Output() const { return output_; }
    int LiveSources() const;
    std::uint32_t SourcesSeen() const { return seen_; }
    const ArtnetSource& Slot(int i) const { return sources_[i]; }

  private:
    void Remerge(bool afterLoss = false);

    ArtnetSource sources_[kArtnetMaxSources];
    MergedOutput output_;
    std::uint32_t seen_ = 0;
};

}  // namespace lxd::bridge
