#include "tools/bridge/core/sync.h"

#include <algorithm>
#include <cstring>

namespace lxd::bridge {

const char* SyncModeName(SyncMode mode) {
    switch (mode) {
        case SyncMode::kAuto:
            return "auto";
        case SyncMode::kAll:
            return "all";
        case SyncMode::kOff:
            return "off";
    }
    return "unknown";
}

const char* SyncStateName(SyncState state) {
    switch (state) {
        case SyncState::kFree:
            return "free";
        case SyncState::kSynced:
            return "synced";
        case SyncState::kLocked:
            return "locked";
    }
    return "unknown";
}

const SyncStream* SacnSyncStreams::Find(const std::uint8_t* cid, std::uint16_t address) const {
    for (const SyncStream& s : streams_) {
        if (s.used && s.address == address && std::memcmp(s.cid, cid, sizeof s.cid) == 0) {
            return &s;
        }
    }
    return nullptr;
}

SyncStream* SacnSyncStreams::Lookup(const std::uint8_t* cid, std::uint16_t address) {
    return const_cast<SyncStream*>(Find(cid, address));
}

bool SacnSyncStreams::Holds(const std::uint8_t* cid, std::uint16_t address) const {
    const SyncStream* s = Find(cid, address);
    return s != nullptr && s->state != SyncState::kFree;
}

void SacnSyncStreams::NoteData(const std::uint8_t* cid, std::uint16_t address, bool lockOnLoss,
                               Millis now) {
    SyncStream* stream = Lookup(cid, address);
    if (stream == nullptr) {
        stream = &streams_[0];
        for (SyncStream& s : streams_) {
            if (!s.used) {
                stream = &s;
                break;
            }
            if (std::max(s.lastData, s.lastSync) < std::max(stream->lastData, stream->lastSync)) {
                stream = &s;
            }
        }
        *stream = SyncStream{};
        stream->used = true;
        std::memcpy(stream->cid, cid, sizeof stream->cid);
        stream->address = address;
        ++version_;
    }
    stream->lastData = now;
    stream->lockOnLoss = lockOnLoss;
}

SyncVerdict SacnSyncStreams::OnSync(const std::uint8_t* cid, std::uint16_t address,
                                    std::uint8_t sequence, std::uint32_t via, Millis now) {
    SyncStream* stream = Lookup(cid, address);
    if (stream == nullptr) {
        return SyncVerdict::kUnknown;
    }
    if (stream->sequenced) {
        const int diff = static_cast<std::int8_t>(sequence - stream->sequence);
        if (diff == 0 && via != stream->via) {
            return SyncVerdict::kDuplicate;
        }
        if (diff <= 0 && diff > -20) {
            ++stream->sequenceErrors;
            return SyncVerdict::kOutOfOrder;
        }
    }
    stream->sequenced = true;
    stream->sequence = sequence;
    stream->via = via;
    stream->lastSync = now;
    stream->state = SyncState::kSynced;
    ++stream->syncs;
    return SyncVerdict::kRelease;
}

int SacnSyncStreams::Expire(Millis now, int* lost) {
    int n = 0;
    for (int i = 0; i < kStreams; ++i) {
        SyncStream& s = streams_[i];
        if (!s.used) {
            continue;
        }
        if (now - std::max(s.lastData, s.lastSync) >= kSyncStreamForget) {
            s.used = false;
            ++version_;
        } else if (s.state == SyncState::kSynced && now - s.lastSync >= kSacnSyncTimeout) {
            s.state = s.lockOnLoss ? SyncState::kLocked : SyncState::kFree;
            ++s.fallbacks;
            lost[n++] = i;
        }
    }
    return n;
}

int SacnSyncStreams::Addresses(std::uint16_t* out, int room) const {
    int n = 0;
    for (const SyncStream& s : streams_) {
        if (s.used && n < room && std::find(out, out + n, s.address) == out + n) {
            out[n++] = s.address;
        }
    }
    return n;
}

bool ArtSyncSources::Synced(std::uint32_t address) const {
    for (const Source& s : sources_) {
        if (s.used && s.address == address) {
            return true;
        }
    }
    return false;
}

void ArtSyncSources::OnSync(std::uint32_t address, Millis now) {
    Source* slot = &sources_[0];
    for (Source& s : sources_) {
        if (s.used && s.address == address) {
            slot = &s;
            break;
        }
        if (!slot->used) {
            continue;
        }
        if (!s.used || s.last < slot->last) {
            slot = &s;
        }
    }
    *slot = {true, address, now};
}

int ArtSyncSources::Expire(Millis now, std::uint32_t* lost) {
    int n = 0;
    for (Source& s : sources_) {
        if (s.used && now - s.last >= kArtSyncTimeout) {
            s.used = false;
            lost[n++] = s.address;
        }
    }
    return n;
}

}  // namespace lxd::bridge
