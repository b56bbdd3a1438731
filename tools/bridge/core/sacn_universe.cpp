#include "tools/bridge/core/sacn_universe.h"

#include <algorithm>
#include <cstring>

#include "tools/bridge/core/printable.h"

namespace lxd::bridge {
namespace {

// Per-address priorities: values above 200 are reserved and count as 200.
void CopyPriorities(const std::uint8_t* slots, std::uint16_t count, std::uint8_t* to) {
    for (std::uint16_t i = 0; i < count; ++i) {
        to[i] = std::min(slots[i], kSacnMaxPriority);
    }
    std::memset(to + count, 0, kChannelsPerPort - count);
}

bool Merged(const SacnSource& s) {
    return s.used && s.state != SourceState::kWaiting && s.hasLevels;
}

}  // namespace

void SacnUniverse::Listen(Millis now) {
    listening_ = true;
    sampling_ = true;
    sampleEnd_ = now + kSacnSamplePeriod;
}

SacnSource* SacnUniverse::Find(const std::uint8_t* cid) {
    for (SacnSource& s : sources_) {
        if (s.used && std::memcmp(s.cid, cid, sizeof s.cid) == 0) {
            return &s;
        }
    }
    return nullptr;
}

SacnSource* SacnUniverse::Add(const SacnPacket& packet, Millis now) {
    for (SacnSource& s : sources_) {
        if (!s.used) {
            const std::uint32_t generation = s.generation + 1;
            s.used = true;
            s.generation = generation;
            std::memcpy(s.cid, packet.cid, sizeof s.cid);
            CopyPrintable(packet.sourceName, 64, s.name, sizeof s.name);
            s.hasLevels = false;
            s.hasPriorities = false;
            std::memset(s.levels, 0, sizeof s.levels);
            std::memset(s.changes, 0, sizeof s.changes);
            s.packets = 0;
            s.sequenceErrors = 0;
            if (!listening_) {
                s.state = SourceState::kLive;
            } else {
                s.state = SourceState::kWaiting;
                s.waitUntil = sampling_ ? sampleEnd_ : now + kSacnPriorityWait;
            }
            ++seen_;
            return &s;
        }
    }
    return nullptr;
}

bool SacnUniverse::Ended(const std::uint8_t* cid, Millis now) const {
    for (const Ending& e : ended_) {
        if (e.used && now - e.at < kSacnEndedHold && std::memcmp(e.cid, cid, sizeof e.cid) == 0) {
            return true;
        }
    }
    return false;
}

void SacnUniverse::RememberEnded(const std::uint8_t* cid, Millis now) {
    Ending* slot = &ended_[0];
    for (Ending& e : ended_) {
        if (!e.used || now - e.at >= kSacnEndedHold) {
            slot = &e;
            break;
        }
        if (e.at < slot->at) {
            slot = &e;  // all in use: the oldest makes room
        }
    }
    std::memcpy(slot->cid, cid, sizeof slot->cid);
    slot->at = now;
    slot->used = true;
}

void SacnUniverse::Lose(SacnSource& source, Millis now) {
    if (source.state == SourceState::kWaiting || !source.hasLevels) {
        source.used = false;  // never merged: nothing to settle
        return;
    }
    source.state = SourceState::kLost;
    source.lostAt = now;
}

SacnVerdict SacnUniverse::Apply(const SacnPacket& packet, Millis now, Arrival from, Hold hold) {
    if (packet.preview) {
        return SacnVerdict::kPreview;
    }
    SacnSource* source = Find(packet.cid);
    if ((source == nullptr || source->state == SourceState::kLost) && Ended(packet.cid, now)) {
        return SacnVerdict::kEnded;  // a late packet of a stream that ended
    }
    if (source != nullptr) {
        const int diff = static_cast<std::int8_t>(packet.sequence - source->sequence);
        if (diff == 0 && from.via != source->from.via) {
            return SacnVerdict::kDuplicate;
        }
        if (diff <= 0 && diff > -20) {
            ++source->sequenceErrors;
            return SacnVerdict::kOutOfOrder;
        }
    }
    if (packet.terminated) {
        if (source == nullptr) {
            return SacnVerdict::kEnded;
        }
        RememberEnded(packet.cid, now);
        if (source->state == SourceState::kLost) {
            return SacnVerdict::kEnded;  // timed out already
        }
        const bool merged = Merged(*source);
        Lose(*source, now);
        if (merged && Settle()) {
            Remerge(true);
        }
        return SacnVerdict::kTerminated;
    }
    if (packet.startCode != kStartCodeLevels && packet.startCode != kStartCodePriorities) {
        if (source != nullptr) {
            source->sequence = packet.sequence;
        }
        return SacnVerdict::kOtherStartCode;
    }
    if (source == nullptr && (source = Add(packet, now)) == nullptr) {
        return SacnVerdict::kSourceLimit;
    }
    source->sequence = packet.sequence;
    if (source->state == SourceState::kLost && packet.startCode != kStartCodeLevels) {
        return SacnVerdict::kPriorities;  // only levels bring a lost source back
    }
    source->from = from;
    source->lastHeard = now;
    ++source->packets;
    if (source->state == SourceState::kLost) {
        source->state = SourceState::kLive;  // timed out, then heard again before settling
    }
    if (packet.startCode == kStartCodePriorities) {
        CopyPriorities(packet.slots, packet.slotCount, source->priorities);
        source->hasPriorities = true;
        source->lastPriorities = now;
        if (source->state == SourceState::kWaiting && !sampling_) {
            source->waitUntil = now;  // its priorities came: no need to wait longer
        }
    } else if (hold != Hold::kNo) {
        std::memcpy(source->held, packet.slots, packet.slotCount);
        std::memset(source->held + packet.slotCount, 0, kChannelsPerPort - packet.slotCount);
        source->hasHeld = true;
        source->heldFor = hold == Hold::kForSync ? packet.syncAddress : std::uint16_t{0};
        source->heldPriority = packet.priority;
    } else {
        TakeLevels(packet.slots, packet.slotCount, source->levels, source->changes, clock_);
        source->priority = packet.priority;
        source->hasLevels = true;
        source->hasHeld = false;
    }
    if (packet.startCode == kStartCodeLevels) {
        source->syncAddress = packet.syncAddress;
        source->lastLevels = now;
    }
    const bool held = packet.startCode == kStartCodeLevels && hold != Hold::kNo;
    const bool released = Release(now);
    const bool settled = Settle();
    if (released || settled || (Merged(*source) && !held)) {
        Remerge(settled);
    }
    if (held) {
        return SacnVerdict::kHeld;
    }
    return packet.startCode == kStartCodePriorities ? SacnVerdict::kPriorities
                                                    : SacnVerdict::kLevels;
}

bool SacnUniverse::ReleaseHeld(const std::uint8_t* cid, std::uint16_t address, bool any) {
    bool released = false;
    bool merged = false;
    for (SacnSource& s : sources_) {
        const bool mine = cid != nullptr && s.heldFor == address && s.heldFor != 0 &&
                          std::memcmp(s.cid, cid, sizeof s.cid) == 0;
        if (!s.used || !s.hasHeld || !(mine || (any && s.heldFor == 0))) {
            continue;
        }
        TakeLevels(s.held, kChannelsPerPort, s.levels, s.changes, clock_);
        s.priority = s.heldPriority;
        s.hasLevels = true;
        s.hasHeld = false;
        released = true;
        merged = merged || Merged(s);
    }
    if (merged) {
        Remerge();
    }
    return released;
}

bool SacnUniverse::Release(Millis now) {
    if (sampling_ && now >= sampleEnd_) {
        sampling_ = false;
    }
    bool any = false;
    for (SacnSource& s : sources_) {
        if (s.used && s.state == SourceState::kWaiting && !sampling_ && now >= s.waitUntil) {
            s.state = SourceState::kLive;
            any = any || s.hasLevels;
        }
    }
    return any;
}

bool SacnUniverse::Settle() {
    bool anyLost = false;
    Millis lastLoss{0};
    for (const SacnSource& s : sources_) {
        if (s.used && s.state == SourceState::kLost) {
            anyLost = true;
            lastLoss = std::max(lastLoss, s.lostAt);
        }
    }
    if (!anyLost) {
        return false;
    }
    for (const SacnSource& s : sources_) {
        if (Merged(s) && s.state == SourceState::kLive && s.lastHeard <= lastLoss) {
            return false;  // not heard since: it may be failing too
        }
    }
    for (SacnSource& s : sources_) {
        if (s.used && s.state == SourceState::kLost) {
            s.used = false;
        }
    }
    return true;
}

int SacnUniverse::Expire(Millis now) {
    int lost = 0;
    bool changed = false;
    for (SacnSource& s : sources_) {
        if (!s.used || s.state == SourceState::kLost) {
            continue;
        }
        const Millis last = s.hasLevels || s.hasHeld ? s.lastLevels : s.lastPriorities;
        if (now - last >= kSacnSourceTimeout) {
            lost += Merged(s) ? 1 : 0;
            Lose(s, now);
        } else if (s.hasPriorities && now - s.lastPriorities >= kSacnSourceTimeout) {
            s.hasPriorities = false;
            changed = changed || Merged(s);
        }
    }
    changed = Release(now) || changed;
    const bool settled = Settle();
    if (changed || settled) {
        Remerge(settled);
    }
    return lost;
}

void SacnUniverse::Remerge(bool afterLoss) {
    levels_.count = 0;
    for (const SacnSource& s : sources_) {
        if (Merged(s)) {
            levels_.sources[levels_.count++] = {s.levels, s.hasPriorities ? s.priorities : nullptr,
                                                s.changes, s.priority};
        }
    }
    change_.Mark(afterLoss);
}

int SacnUniverse::LiveSources() const {
    int n = 0;
    for (const SacnSource& s : sources_) {
        n += Merged(s) && s.state == SourceState::kLive ? 1 : 0;
    }
    return n;
}

int SacnUniverse::TopPriority() const {
    int top = -1;
    for (const SacnSource& s : sources_) {
        if (Merged(s) && s.priority > top) {
            top = s.priority;
        }
    }
    return top;
}

bool SacnUniverse::AnyPerAddressPriority() const {
    for (const SacnSource& s : sources_) {
        if (Merged(s) && s.hasPriorities) {
            return true;
        }
    }
    return false;
}

}  // namespace lxd::bridge
