#include "tools/bridge/core/bridge.h"

#include <algorithm>
#include <cstring>

#include "tools/bridge/core/printable.h"

namespace lxd::bridge {
namespace {

Drop DropOf(SacnVerdict verdict) {
    switch (verdict) {
        case SacnVerdict::kPreview:
            return Drop::kPreview;
        case SacnVerdict::kOutOfOrder:
            return Drop::kOutOfOrder;
        case SacnVerdict::kSourceLimit:
            return Drop::kSourceLimit;
        default:
            return Drop::kStartCode;
    }
}

template <typename T>
std::unique_ptr<T[]> MakeUniverses(int count, bool holdOnLoss) {
    std::unique_ptr<T[]> universes(new T[static_cast<std::size_t>(count)]);
    for (int i = 0; i < count; ++i) {
        universes[i] = T(holdOnLoss);
    }
    return universes;
}

}  // namespace

Bridge::Bridge(const Mapping& mapping, bool holdOnLoss, DatagramSink& sink)
    : mapping_(mapping), forwarder_(sink), discovered_(std::make_unique<DiscoveredSources>()) {
    sacn_ = MakeUniverses<SacnUniverse>(mapping.Count(Protocol::kSacn), holdOnLoss);
    artnet_ = MakeUniverses<ArtnetUniverse>(mapping.Count(Protocol::kArtnet), holdOnLoss);
    int sacnUsed = 0;
    int artnetUsed = 0;
    for (int p = 0; p < kNumPorts; ++p) {
        switch (mapping.Port(p).protocol) {
            case Protocol::kSacn:
                slot_[p] = sacnUsed;
                forwarder_.Attach(p, sacn_[sacnUsed++].Output().Levels());
                break;
            case Protocol::kArtnet:
                slot_[p] = artnetUsed;
                forwarder_.Attach(p, artnet_[artnetUsed++].Output().Levels());
                break;
            case Protocol::kNone:
                slot_[p] = -1;
                break;
        }
    }
}

void Bridge::Remap(const Mapping& mapping, bool holdOnLoss, Millis now) {
    auto sacn = MakeUniverses<SacnUniverse>(mapping.Count(Protocol::kSacn), holdOnLoss);
    auto artnet = MakeUniverses<ArtnetUniverse>(mapping.Count(Protocol::kArtnet), holdOnLoss);
    int sacnUsed = 0;
    int artnetUsed = 0;
    for (int p = 0; p < kNumPorts; ++p) {
        const PortSource& next = mapping.Port(p);
        const PortSource& before = mapping_.Port(p);
        const bool kept = next.protocol == before.protocol && next.universe == before.universe;
        if (!kept) {
            counts_[p] = UniverseCounts{};
        }
        MergedOutput* output = nullptr;
        switch (next.protocol) {
            case Protocol::kSacn: {
                SacnUniverse& u = sacn[sacnUsed];
                if (kept) {
                    u = sacn_[slot_[p]];
                    u.Output().SetHold(holdOnLoss);
                } else {
                    u.Listen(now);
                }
                slot_[p] = sacnUsed++;
                output = &u.Output();
                break;
            }
            case Protocol::kArtnet: {
                ArtnetUniverse& u = artnet[artnetUsed];
                if (kept) {
                    u = artnet_[slot_[p]];
                    u.Output().SetHold(holdOnLoss);
                }
                slot_[p] = artnetUsed++;
                output = &u.Output();
                break;
            }
            case Protocol::kNone:
                slot_[p] = -1;
                forwarder_.Detach(p);
                break;
        }
        if (output != nullptr) {
            forwarder_.Attach(p, output->Levels());
            if (!kept) {
                forwarder_.MarkChanged(p);
            }
        }
    }
    sacn_ = std::move(sacn);
    artnet_ = std::move(artnet);
    mapping_ = mapping;
}

void Bridge::SetNodeName(const std::string& shortName, const std::string& longName) {
    CopyPrintable(reinterpret_cast<const std::uint8_t*>(shortName.data()), shortName.size(),
                  node_.shortName, sizeof node_.shortName);
    CopyPrintable(reinterpret_cast<const std::uint8_t*>(longName.data()), longName.size(),
                  node_.longName, sizeof node_.longName);
}

void Bridge::Listen(Millis now) {
    for (int i = 0; i < mapping_.Count(Protocol::kSacn); ++i) {
        sacn_[i].Listen(now);
    }
}

void Bridge::SetVersion(std::uint8_t high, std::uint8_t low) {
    node_.versionHigh = high;
    node_.versionLow = low;
}

const SacnUniverse* Bridge::SacnAt(int port) const {
    return mapping_.Port(port).protocol == Protocol::kSacn ? &sacn_[slot_[port]] : nullptr;
}

const ArtnetUniverse* Bridge::ArtnetAt(int port) const {
    return mapping_.Port(port).protocol == Protocol::kArtnet ? &artnet_[slot_[port]] : nullptr;
}

int Bridge::LiveSources(int port) const {
    if (const SacnUniverse* u = SacnAt(port)) {
        return u->LiveSources();
    }
    if (const ArtnetUniverse* u = ArtnetAt(port)) {
        return u->LiveSources();
    }
    return 0;
}

void Bridge::TakeChange(int port, MergedOutput& output) {
    if (output.TakeChange()) {
        forwarder_.MarkChanged(port);
    }
}

void Bridge::SetSync(SyncMode mode) {
    sync_ = mode;
    if (mode != SyncMode::kAll && holdingAll_) {
        holdingAll_ = false;
        Release(nullptr, 0, 0);
    }
    if (mode != SyncMode::kOff) {
        return;
    }
    // Everything that waits goes now.
    for (int p = 0; p < kNumPorts; ++p) {
        if (mapping_.Port(p).protocol == Protocol::kSacn) {
            SacnUniverse& u = sacn_[slot_[p]];
            for (int i = 0; i < kSacnMaxSources; ++i) {
                u.ReleaseHeld(u.Slot(i).cid, u.Slot(i).heldFor, true);
            }
            TakeChange(p, u.Output());
        } else if (mapping_.Port(p).protocol == Protocol::kArtnet) {
            ArtnetUniverse& u = artnet_[slot_[p]];
            for (int i = 0; i < kArtnetMaxSources; ++i) {
                u.ReleaseHeld(u.Slot(i).address, true);
            }
            TakeChange(p, u.Output());
        }
    }
}

void Bridge::OnSacn(const std::uint8_t* data, std::size_t size, Millis now, Arrival from) {
    ++sacnCounts_.datagrams;
    // Data of a universe nobody maps goes no further than its number.
    std::uint16_t number = 0;
    const bool peeked = PeekSacnUniverse(data, size, number);
    const int early = peeked ? mapping_.PortOf(Protocol::kSacn, number) : -1;
    if (peeked && early < 0) {
        ++sacnCounts_.unmapped;
        unmappedSacn_.Note(number, now);
        return;
    }
    SacnPacket packet;
    SacnSync sync;
    SacnDiscovery discovery;
    const SacnParse parsed = ParseSacn(data, size, packet, sync, discovery);
    ++sacnCounts_.parsed[static_cast<int>(parsed)];
    if (parsed == SacnParse::kSync) {
        OnSync(sync, from, now);
        return;
    }
    if (parsed == SacnParse::kDiscovery) {
        discovered_->Note(discovery, from.address, now);
        return;
    }
    if (parsed != SacnParse::kData) {
        return;
    }
    // (A data packet's universe is the one read first.)
    const int port = peeked ? early : mapping_.PortOf(Protocol::kSacn, packet.universe);
    if (port < 0) {
        ++sacnCounts_.unmapped;
        unmappedSacn_.Note(packet.universe, now);
        return;
    }
    SacnUniverse& universe = sacn_[slot_[port]];
    UniverseCounts& counts = counts_[port];
    // Levels that name a synchronisation wait for it while its packets
    // arrive; under sync = "all" the others wait for any synchronisation.
    const bool named = sync_ != SyncMode::kOff && packet.syncAddress != 0;
    Hold hold = Hold::kNo;
    if (named && sacnSync_.Holds(packet.cid, packet.syncAddress)) {
        hold = Hold::kForSync;
    } else if (HoldingAll()) {
        hold = Hold::kForAny;
    }
    const SacnVerdict verdict = universe.Apply(packet, now, from, hold);
    switch (verdict) {
        case SacnVerdict::kDuplicate:
            ++counts.duplicates;
            break;
        case SacnVerdict::kLevels:
        case SacnVerdict::kHeld:
            if (named) {
                sacnSync_.NoteData(packet.cid, packet.syncAddress, !packet.forceSync, now);
            }
            ++counts.packets;
            break;
        case SacnVerdict::kPriorities:
        case SacnVerdict::kEnded:
            ++counts.packets;
            break;
        case SacnVerdict::kTerminated:
            ++counts.packets;
            ++counts.lost;
            break;
        default:
            ++counts.dropped[static_cast<int>(DropOf(verdict))];
            break;
    }
    TakeChange(port, universe.Output());
}

void Bridge::OnArtnet(const std::uint8_t* data, std::size_t size, std::uint32_t from, Millis now,
                      ReplySink& replies) {
    ++artnetCounts_.datagrams;
    ArtDmx dmx;
    ArtPoll poll;
    const ArtnetParse parsed = ParseArtnet(data, size, dmx, poll);
    ++artnetCounts_.parsed[static_cast<int>(parsed)];
    if (parsed == ArtnetParse::kPoll) {
        AnswerPoll(poll, from, now, replies);
        return;
    }
    if (parsed == ArtnetParse::kSync) {
        OnArtSync(from, now);
        return;
    }
    if (parsed != ArtnetParse::kDmx) {
        return;
    }
    const int port = mapping_.PortOf(Protocol::kArtnet, dmx.portAddress);
    if (port < 0) {
        ++artnetCounts_.unmapped;
        unmappedArtnet_.Note(dmx.portAddress, now);
        return;
    }
    ArtnetUniverse& universe = artnet_[slot_[port]];
    // ArtDmx waits for its source's ArtSync, unless two sources merge here.
    Hold hold = Hold::kNo;
    if (sync_ != SyncMode::kOff && artSync_.Synced(from) && !universe.OtherThan(from)) {
        hold = Hold::kForSync;
    } else if (HoldingAll()) {
        hold = Hold::kForAny;
    }
    if (universe.Apply(dmx, from, now, hold) == ArtnetVerdict::kThirdSource) {
        ++counts_[port].dropped[static_cast<int>(Drop::kThirdSource)];
        return;
    }
    ++counts_[port].packets;
    TakeChange(port, universe.Output());
}

void Bridge::AnswerPoll(const ArtPoll& poll, std::uint32_t from, Millis now, ReplySink& replies) {
    std::uint16_t addresses[kNumPorts];
    int ports[kNumPorts];
    int count = 0;
    for (int p = 0; p < kNumPorts; ++p) {
        const PortSource& source = mapping_.Port(p);
        if (source.protocol != Protocol::kArtnet ||
            (poll.targeted &&
             (source.universe < poll.targetBottom || source.universe > poll.targetTop))) {
            continue;
        }
        addresses[count] = source.universe;
        ports[count++] = p;
    }
    if (count == 0) {
        return;
    }
    NodeIdentity node = node_;
    node.address = replies.OwnAddressFor(from);
    // Pollers on no network of ours, and polls beyond the bounds, get nothing.
    if (node.address == 0 || !pollLimit_.Allow(from, now)) {
        ++artnetCounts_.pollsIgnored;
        return;
    }
    ReplyGroup groups[kNumPorts];
    const int replyCount = GroupPollReplies(addresses, count, groups);
    replies.MacFor(node.address, node.mac);
    std::uint8_t reply[kArtPollReplySize];
    for (int r = 0; r < replyCount; ++r) {
        ReplyOutput outputs[4];
        for (int i = 0; i < groups[r].count; ++i) {
            const int port = ports[groups[r].indexes[i]];
            const int live = artnet_[slot_[port]].LiveSources();
            outputs[i] = {addresses[groups[r].indexes[i]],
                          static_cast<std::uint8_t>((live > 0 ? kGoodOutputData : 0) |
                                                    (live > 1 ? kGoodOutputMerging : 0))};
        }
        WriteArtPollReply(reply, node, static_cast<std::uint8_t>(r + 1), outputs, groups[r].count,
                          static_cast<std::uint32_t>(artnetCounts_.replies + 1));
        replies.Reply(from, reply, sizeof reply);
        ++artnetCounts_.replies;
    }
}

void Bridge::OnSync(const SacnSync& sync, Arrival from, Millis now) {
    if (sync_ == SyncMode::kOff) {
        return;
    }
    switch (sacnSync_.OnSync(sync.cid, sync.address, sync.sequence, from.via, now)) {
        case SyncVerdict::kRelease:
            break;
        case SyncVerdict::kOutOfOrder:
            ++sacnCounts_.syncOutOfOrder;
            return;
        case SyncVerdict::kUnknown:
            ++sacnCounts_.syncUnknown;
            return;
        case SyncVerdict::kDuplicate:
            return;
    }
    holdAllUntil_ = std::max(holdAllUntil_, now + kSacnSyncTimeout);
    Release(sync.cid, sync.address, 0);
}

void Bridge::OnArtSync(std::uint32_t from, Millis now) {
    if (sync_ == SyncMode::kOff) {
        return;
    }
    // Only the source of the ArtDmx it releases synchronises, and only where
    // it is the one source of a port.
    bool alone = false;
    for (int p = 0; p < kNumPorts && !alone; ++p) {
        if (const ArtnetUniverse* u = ArtnetAt(p)) {
            for (int i = 0; i < kArtnetMaxSources; ++i) {
                alone =
                    alone || (u->Slot(i).used && u->Slot(i).address == from && !u->OtherThan(from));
            }
        }
    }
    if (!alone) {
        ++artnetCounts_.syncIgnored;
        return;
    }
    artSync_.OnSync(from, now);
    holdAllUntil_ = std::max(holdAllUntil_, now + kArtSyncTimeout);
    Release(nullptr, 0, from);
}

void Bridge::Release(const std::uint8_t* cid, std::uint16_t address, std::uint32_t artFrom) {
    // Without a synchronisation (cid and artFrom unset): what waits for any.
    const bool stopped = cid == nullptr && artFrom == 0;
    const bool any = sync_ == SyncMode::kAll || stopped;
    holdingAll_ = holdingAll_ || (sync_ == SyncMode::kAll && !stopped);
    for (int p = 0; p < kNumPorts; ++p) {
        MergedOutput* output = nullptr;
        bool released = false;
        if (mapping_.Port(p).protocol == Protocol::kSacn) {
            SacnUniverse& u = sacn_[slot_[p]];
            released = u.ReleaseHeld(cid, address, any);
            output = &u.Output();
        } else if (mapping_.Port(p).protocol == Protocol::kArtnet) {
            ArtnetUniverse& u = artnet_[slot_[p]];
            released = u.ReleaseHeld(artFrom, any);
            output = &u.Output();
        }
        if (released) {
            counts_[p].syncs += stopped ? 0 : 1;
            TakeChange(p, *output);
        }
    }
}

void Bridge::ExpireSyncs(Millis now) {
    int lost[SacnSyncStreams::kStreams];
    const int streams = sacnSync_.Expire(now, lost);
    for (int i = 0; i < streams; ++i) {
        const SyncStream& stream = sacnSync_.At(lost[i]);
        for (int p = 0; p < kNumPorts; ++p) {
            if (mapping_.Port(p).protocol != Protocol::kSacn) {
                continue;
            }
            SacnUniverse& u = sacn_[slot_[p]];
            for (int s = 0; s < kSacnMaxSources; ++s) {
                const SacnSource& src = u.Slot(s);
                if (src.used && src.syncAddress == stream.address &&
                    std::memcmp(src.cid, stream.cid, sizeof src.cid) == 0) {
                    ++counts_[p].syncFallbacks;
                }
            }
            // Falling back, the latest levels go at once; a locked look stays.
            if (stream.state == SyncState::kFree) {
                u.ReleaseHeld(stream.cid, stream.address, false);
            }
        }
    }
    std::uint32_t artLost[ArtSyncSources::kSources];
    const int sources = artSync_.Expire(now, artLost);
    for (int i = 0; i < sources; ++i) {
        for (int p = 0; p < kNumPorts; ++p) {
            if (mapping_.Port(p).protocol != Protocol::kArtnet) {
                continue;
            }
            ArtnetUniverse& u = artnet_[slot_[p]];
            for (int s = 0; s < kArtnetMaxSources; ++s) {
                if (u.Slot(s).used && u.Slot(s).address == artLost[i]) {
                    ++counts_[p].syncFallbacks;
                }
            }
            u.ReleaseHeld(artLost[i], false);
        }
    }
    if (holdingAll_ && now >= holdAllUntil_) {
        holdingAll_ = false;
        Release(nullptr, 0, 0);
    }
}

PortSync Bridge::SyncOf(int port) const {
    PortSync sync;
    if (sync_ == SyncMode::kOff) {
        return sync;
    }
    if (const SacnUniverse* u = SacnAt(port)) {
        for (int i = 0; i < kSacnMaxSources; ++i) {
            const SacnSource& src = u->Slot(i);
            const SyncStream* stream = src.used && src.syncAddress != 0
                                           ? sacnSync_.Find(src.cid, src.syncAddress)
                                           : nullptr;
            if (stream != nullptr && stream->state != SyncState::kFree) {
                return {SyncKind::kSacn, stream->address, stream->state == SyncState::kLocked};
            }
        }
    } else if (const ArtnetUniverse* a = ArtnetAt(port)) {
        for (int i = 0; i < kArtnetMaxSources; ++i) {
            const ArtnetSource& src = a->Slot(i);
            if (src.used && artSync_.Synced(src.address) && !a->OtherThan(src.address)) {
                return {SyncKind::kArtSync, 0, false};
            }
        }
    }
    if (HoldingAll()) {
        sync.kind = SyncKind::kAll;
    }
    return sync;
}

void Bridge::Flush(Millis now) {
    forwarder_.Flush(now);
}

void Bridge::Tick(Millis now) {
    ExpireSyncs(now);
    discovered_->Expire(now);
    // Every port that has had a source is sent again, held or zeroed ones
    // too, so that a host started later gets the look.
    bool due[kNumPorts];
    for (int p = 0; p < kNumPorts; ++p) {
        due[p] = false;
        if (mapping_.Port(p).protocol == Protocol::kSacn) {
            SacnUniverse& u = sacn_[slot_[p]];
            counts_[p].lost += static_cast<std::uint64_t>(u.Expire(now));
            due[p] = u.Output().Started();
            TakeChange(p, u.Output());
        } else if (mapping_.Port(p).protocol == Protocol::kArtnet) {
            ArtnetUniverse& u = artnet_[slot_[p]];
            counts_[p].lost += static_cast<std::uint64_t>(u.Expire(now));
            due[p] = u.Output().Started();
            TakeChange(p, u.Output());
        }
    }
    forwarder_.MarkStale(due, now);
    forwarder_.Flush(now);
}

}  // namespace lxd::bridge
