#include "tools/bridge/core/artnet_universe.h"

#include <cstring>

namespace lxd::bridge {

ArtnetVerdict ArtnetUniverse::Apply(const ArtDmx& dmx, std::uint32_t from, Millis now) {
    ArtnetSource* source = nullptr;
    ArtnetSource* free = nullptr;
    for (ArtnetSource& s : sources_) {
        if (s.used && s.address == from) {
            source = &s;
        } else if (!s.used && free == nullptr) {
            free = &s;
        }
    }
    if (source == nullptr) {
        if (free == nullptr) {
            return ArtnetVerdict::kThirdSource;
        }
        source = free;
        source->used = true;
        source->address = from;
        source->packets = 0;
        std::memset(source->levels, 0, sizeof source->levels);
        std::memset(source->changes, 0, sizeof source->changes);
        ++source->generation;
        ++seen_;
    }
    source->last = now;
    ++source->packets;
    TakeLevels(dmx.data, dmx.length, source->levels, source->changes, clock_);
    Remerge();
    return ArtnetVerdict::kLevels;
}

int ArtnetUniverse::Expire(Millis now) {
    int lost = 0;
    for (ArtnetSource& s : sources_) {
        if (s.used && now - s.last >= kArtnetSourceTimeout) {
            s.used = false;
            ++lost;
        }
    }
    if (lost > 0) {
        Remerge(true);
    }
    return lost;
}

void ArtnetUniverse::Remerge(bool afterLoss) {
    levels_.count = 0;
    for (const ArtnetSource& s : sources_) {
        if (s.used) {
            levels_.sources[levels_.count++] = {s.levels, nullptr, s.changes,
                                                kArtnetDefaultPriority};
        }
    }
    change_.Mark(afterLoss);
}

int ArtnetUniverse::LiveSources() const {
    int n = 0;
    for (const ArtnetSource& s : sources_) {
        n += s.used ? 1 : 0;
    }
    return n;
}

}  // namespace lxd::bridge
