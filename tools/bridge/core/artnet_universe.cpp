#include "tools/bridge/core/artnet_universe.h"

#include <cstring>

namespace lxd::bridge {

ArtnetVerdict ArtnetUniverse::Apply(const ArtDmx& dmx, std::uint32_t from, Millis now, Hold hold) {
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
        source->held = Hold::kNo;
        std::memset(source->levels, 0, sizeof source->levels);
        std::memset(source->changes, 0, sizeof source->changes);
        ++source->generation;
        ++seen_;
    }
    // Two sources merge: what waited for ArtSync goes now.
    const bool released = OtherThan(from) && Unhold(0, false, true);
    source->last = now;
    ++source->packets;
    if (hold == Hold::kNo) {
        TakeLevels(dmx.data, dmx.length, source->levels, source->changes, clock_);
    } else {
        std::memcpy(source->pending, dmx.data, dmx.length);
        std::memset(source->pending + dmx.length, 0, kChannelsPerPort - dmx.length);
    }
    source->held = hold;
    if (hold == Hold::kNo || released) {
        Remerge();
    }
    return hold == Hold::kNo ? ArtnetVerdict::kLevels : ArtnetVerdict::kHeld;
}

bool ArtnetUniverse::ReleaseHeld(std::uint32_t from, bool any) {
    const bool released = Unhold(from, any, false);
    if (released) {
        Remerge();
    }
    return released;
}

bool ArtnetUniverse::Unhold(std::uint32_t from, bool any, bool allSyncs) {
    bool released = false;
    for (ArtnetSource& s : sources_) {
        const bool forSync =
            s.held == Hold::kForSync && (allSyncs || (from != 0 && s.address == from));
        if (s.used && (forSync || (s.held == Hold::kForAny && any))) {
            TakeLevels(s.pending, kChannelsPerPort, s.levels, s.changes, clock_);
            s.held = Hold::kNo;
            released = true;
        }
    }
    return released;
}

bool ArtnetUniverse::OtherThan(std::uint32_t address) const {
    for (const ArtnetSource& s : sources_) {
        if (s.used && s.address != address) {
            return true;
        }
    }
    return false;
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
