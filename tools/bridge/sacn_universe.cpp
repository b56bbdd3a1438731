#include "tools/bridge/sacn_universe.h"

#include <cstring>

namespace lxd::bridge {
namespace {

// Copies `count` values and zeroes the rest of the 512.
void CopySlots(const std::uint8_t* slots, std::uint16_t count, std::uint8_t* to) {
    std::memcpy(to, slots, count);
    std::memset(to + count, 0, kChannels - count);
}

}  // namespace

SacnSource* SacnUniverse::Find(const std::uint8_t* cid) {
    for (SacnSource& s : sources_) {
        if (s.used && std::memcmp(s.cid, cid, sizeof s.cid) == 0) {
            return &s;
        }
    }
    return nullptr;
}

SacnSource* SacnUniverse::Add(const SacnPacket& packet) {
    for (SacnSource& s : sources_) {
        if (!s.used) {
            s.used = true;
            std::memcpy(s.cid, packet.cid, sizeof s.cid);
            CopyPrintable(packet.sourceName, 64, s.name, sizeof s.name);
            s.hasLevels = false;
            s.hasPriorities = false;
            ++seen_;
            return &s;
        }
    }
    return nullptr;
}

SacnVerdict SacnUniverse::Apply(const SacnPacket& packet, Millis now) {
    if (packet.preview) {
        return SacnVerdict::kPreview;
    }
    SacnSource* source = Find(packet.cid);
    if (source != nullptr) {
        const int diff = static_cast<std::int8_t>(packet.sequence - source->sequence);
        if (diff <= 0 && diff > -20) {
            return SacnVerdict::kOutOfOrder;
        }
    }
    if (packet.terminated) {
        if (source == nullptr) {
            return SacnVerdict::kEnded;
        }
        source->used = false;
        Remerge();
        return SacnVerdict::kTerminated;
    }
    if (packet.startCode != kStartCodeLevels && packet.startCode != kStartCodePriorities) {
        if (source != nullptr) {
            source->sequence = packet.sequence;
        }
        return SacnVerdict::kOtherStartCode;
    }
    if (source == nullptr && (source = Add(packet)) == nullptr) {
        return SacnVerdict::kSourceLimit;
    }
    source->sequence = packet.sequence;
    if (packet.startCode == kStartCodePriorities) {
        CopySlots(packet.slots, packet.slotCount, source->priorities);
        source->hasPriorities = true;
        source->lastPriorities = now;
    } else {
        CopySlots(packet.slots, packet.slotCount, source->levels);
        source->priority = packet.priority;
        source->hasLevels = true;
        source->lastLevels = now;
    }
    if (source->hasLevels) {
        Remerge();
    }
    return packet.startCode == kStartCodePriorities ? SacnVerdict::kPriorities
                                                    : SacnVerdict::kLevels;
}

int SacnUniverse::Expire(Millis now) {
    int lost = 0;
    bool changed = false;
    for (SacnSource& s : sources_) {
        if (!s.used) {
            continue;
        }
        const Millis last = s.hasLevels ? s.lastLevels : s.lastPriorities;
        if (now - last >= kSacnSourceTimeout) {
            s.used = false;
            lost += s.hasLevels ? 1 : 0;
            changed = changed || s.hasLevels;
        } else if (s.hasPriorities && now - s.lastPriorities >= kSacnSourceTimeout) {
            s.hasPriorities = false;
            changed = changed || s.hasLevels;
        }
    }
    if (changed) {
        Remerge();
    }
    return lost;
}

void SacnUniverse::Remerge() {
    MergeInput inputs[kSacnMaxSources];
    int n = 0;
    for (const SacnSource& s : sources_) {
        if (s.used && s.hasLevels) {
            inputs[n++] = {s.levels, s.hasPriorities ? s.priorities : nullptr, s.priority};
        }
    }
    output_.Update(inputs, n);
}

int SacnUniverse::LiveSources() const {
    int n = 0;
    for (const SacnSource& s : sources_) {
        n += s.used && s.hasLevels ? 1 : 0;
    }
    return n;
}

int SacnUniverse::TopPriority() const {
    int top = -1;
    for (const SacnSource& s : sources_) {
        if (s.used && s.hasLevels && s.priority > top) {
            top = s.priority;
        }
    }
    return top;
}

bool SacnUniverse::AnyPerAddressPriority() const {
    for (const SacnSource& s : sources_) {
        if (s.used && s.hasLevels && s.hasPriorities) {
            return true;
        }
    }
    return false;
}

}  // namespace lxd::bridge
