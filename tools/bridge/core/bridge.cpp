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

bool SameUniverse(const PortSource& a, const PortSource& b) {
    return a.protocol == b.protocol && a.universe == b.universe;
}

}  // namespace

Bridge::Bridge(const Mapping& mapping, bool holdOnLoss, DatagramSink& sink)
    : mapping_(mapping), forwarder_(sink), discovered_(std::make_unique<DiscoveredSources>()) {
    Build(mapping, holdOnLoss, Millis(0), nullptr);
}

void Bridge::Remap(const Mapping& mapping, bool holdOnLoss, Millis now) {
    std::vector<Input> before = std::move(inputs_);
    const Mapping old = mapping_;
    mapping_ = mapping;
    Build(mapping, holdOnLoss, now, &before);
    // A port keeps its levels when its routes and rules stayed; the others
    // start from zero.
    std::vector<Route> oldRoutes[kNumPorts];
    std::vector<Route> newRoutes[kNumPorts];
    for (const Route& r : old.Routes()) {
        oldRoutes[r.port].push_back(r);
    }
    for (const Route& r : mapping.Routes()) {
        newRoutes[r.port].push_back(r);
    }
    for (int p = 0; p < kNumPorts; ++p) {
        if (newRoutes[p].empty()) {
            forwarder_.Detach(p);
        } else if (oldRoutes[p] != newRoutes[p] || !(old.Rules(p) == mapping.Rules(p))) {
            ports_[p].Reset();
            ports_[p].UpdateAll();
            forwarder_.MarkChanged(p);
        }
    }
}

void Bridge::Build(const Mapping& mapping, bool holdOnLoss, Millis now,
                   std::vector<Input>* before) {
    const std::vector<Route> routes = mapping.Routes();
    std::vector<Input> none;
    inputs_.clear();
    for (const Route& r : routes) {
        if (std::any_of(inputs_.begin(), inputs_.end(),
                        [&](const Input& in) { return SameUniverse(in.key, r.from); })) {
            continue;
        }
        Input input;
        input.key = r.from;
        for (Input& old : before != nullptr ? *before : none) {
            if (SameUniverse(old.key, r.from) && (old.sacn || old.artnet)) {
                input.sacn = std::move(old.sacn);
                input.artnet = std::move(old.artnet);
                input.counts = old.counts;
            }
        }
        if (!input.sacn && !input.artnet) {
            if (r.from.protocol == Protocol::kSacn) {
                input.sacn = std::make_unique<SacnUniverse>();
                if (before != nullptr) {
                    input.sacn->Listen(now);
                }
            } else {
                input.artnet = std::make_unique<ArtnetUniverse>();
            }
        }
        inputs_.push_back(std::move(input));
    }
    sacnIndex_.clear();
    artnetIndex_.clear();
    for (int i = 0; i < static_cast<int>(inputs_.size()); ++i) {
        auto& index = inputs_[i].key.protocol == Protocol::kSacn ? sacnIndex_ : artnetIndex_;
        index.emplace_back(inputs_[i].key.universe, i);
    }
    std::sort(sacnIndex_.begin(), sacnIndex_.end());
    std::sort(artnetIndex_.begin(), artnetIndex_.end());

    // Routes by input, and each port's merge over its routes.
    routes_.clear();
    PortRoute portRoutes[kNumPorts][kMaxRoutesPerPort];
    int counts[kNumPorts] = {};
    bool ltp[kNumPorts] = {};
    for (int p = 0; p < kNumPorts; ++p) {
        portRoutes_[p].clear();
        ltp[p] = mapping.Rules(p).merge == Merge::kLtp;
    }
    for (int i = 0; i < static_cast<int>(inputs_.size()); ++i) {
        Input& input = inputs_[i];
        input.firstRoute = static_cast<int>(routes_.size());
        const InputLevels& levels = input.sacn ? input.sacn->Levels() : input.artnet->Levels();
        bool stamps = false;
        for (const Route& r : routes) {
            if (!SameUniverse(r.from, input.key) || counts[r.port] == kMaxRoutesPerPort) {
                continue;
            }
            routes_.push_back({r.port, r.at - 1, r.count});
            portRoutes[r.port][counts[r.port]++] = {
                &levels, static_cast<std::uint16_t>(r.first - 1),
                static_cast<std::uint16_t>(r.at - 1), r.count, r.priority};
            portRoutes_[r.port].push_back(i);
            stamps = stamps || ltp[r.port];
        }
        input.routeCount = static_cast<int>(routes_.size()) - input.firstRoute;
        if (input.sacn) {
            input.sacn->StampChanges(stamps ? &clock_ : nullptr);
        } else {
            input.artnet->StampChanges(stamps ? &clock_ : nullptr);
        }
    }
    for (int p = 0; p < kNumPorts; ++p) {
        const PortRules& rules = mapping.Rules(p);
        ports_[p].Configure(portRoutes[p], counts[p], rules.merge,
                            rules.hold < 0 ? holdOnLoss : rules.hold == 1);
        if (counts[p] > 0) {
            ports_[p].UpdateAll();
            forwarder_.Attach(p, ports_[p].Levels());
        }
    }
}

int Bridge::FindInput(Protocol protocol, std::uint16_t universe) const {
    const auto& index = protocol == Protocol::kSacn ? sacnIndex_ : artnetIndex_;
    const auto it = std::lower_bound(index.begin(), index.end(), std::make_pair(universe, 0));
    return it != index.end() && it->first == universe ? it->second : -1;
}

void Bridge::Changed(int input) {
    Input& in = inputs_[input];
    bool afterLoss = false;
    if (!(in.sacn ? in.sacn->TakeChange(afterLoss) : in.artnet->TakeChange(afterLoss))) {
        return;
    }
    for (int r = in.firstRoute; r < in.firstRoute + in.routeCount; ++r) {
        const RouteAt& route = routes_[r];
        ports_[route.port].Update(route.first, route.count, afterLoss);
        if (ports_[route.port].TakeChange()) {
            forwarder_.MarkChanged(route.port);
        }
    }
}

void Bridge::SetNodeName(const std::string& shortName, const std::string& longName) {
    CopyPrintable(reinterpret_cast<const std::uint8_t*>(shortName.data()), shortName.size(),
                  node_.shortName, sizeof node_.shortName);
    CopyPrintable(reinterpret_cast<const std::uint8_t*>(longName.data()), longName.size(),
                  node_.longName, sizeof node_.longName);
}

void Bridge::Listen(Millis now) {
    for (Input& input : inputs_) {
        if (input.sacn) {
            input.sacn->Listen(now);
        }
    }
}

void Bridge::SetVersion(std::uint8_t high, std::uint8_t low) {
    node_.versionHigh = high;
    node_.versionLow = low;
}

int Bridge::LiveSources(int input) const {
    const Input& in = inputs_[input];
    return in.sacn ? in.sacn->LiveSources() : in.artnet->LiveSources();
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
    for (int i = 0; i < static_cast<int>(inputs_.size()); ++i) {
        Input& in = inputs_[i];
        if (in.sacn) {
            for (int s = 0; s < kSacnMaxSources; ++s) {
                in.sacn->ReleaseHeld(in.sacn->Slot(s).cid, in.sacn->Slot(s).heldFor, true);
            }
        } else {
            for (int s = 0; s < kArtnetMaxSources; ++s) {
                in.artnet->ReleaseHeld(in.artnet->Slot(s).address, true);
            }
        }
        Changed(i);
    }
}

void Bridge::OnSacn(const std::uint8_t* data, std::size_t size, Millis now, Arrival from) {
    ++sacnCounts_.datagrams;
    // Data of a universe nobody maps goes no further than its number.
    std::uint16_t number = 0;
    const bool peeked = PeekSacnUniverse(data, size, number);
    const int input = peeked ? FindInput(Protocol::kSacn, number) : -1;
    if (peeked && input < 0) {
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
    // A data packet passed the checks the peek made: its universe is the
    // one read first, and mapped.
    Input& in = inputs_[input];
    UniverseCounts& counts = in.counts;
    // Levels that name a synchronisation wait for it while its packets
    // arrive; under sync = "all" the others wait for any synchronisation.
    const bool named = sync_ != SyncMode::kOff && packet.syncAddress != 0;
    Hold hold = Hold::kNo;
    if (named && sacnSync_.Holds(packet.cid, packet.syncAddress)) {
        hold = Hold::kForSync;
    } else if (HoldingAll()) {
        hold = Hold::kForAny;
    }
    const SacnVerdict verdict = in.sacn->Apply(packet, now, from, hold);
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
    Changed(input);
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
    const int input = FindInput(Protocol::kArtnet, dmx.portAddress);
    if (input < 0) {
        ++artnetCounts_.unmapped;
        unmappedArtnet_.Note(dmx.portAddress, now);
        return;
    }
    UniverseCounts& counts = inputs_[input].counts;
    ArtnetUniverse& universe = *inputs_[input].artnet;
    // ArtDmx waits for its source's ArtSync, unless two sources merge here.
    Hold hold = Hold::kNo;
    if (sync_ != SyncMode::kOff && artSync_.Synced(from) && !universe.OtherThan(from)) {
        hold = Hold::kForSync;
    } else if (HoldingAll()) {
        hold = Hold::kForAny;
    }
    if (universe.Apply(dmx, from, now, hold) == ArtnetVerdict::kThirdSource) {
        ++counts.dropped[static_cast<int>(Drop::kThirdSource)];
        return;
    }
    ++counts.packets;
    Changed(input);
}

void Bridge::AnswerPoll(const ArtPoll& poll, std::uint32_t from, Millis now, ReplySink& replies) {
    std::uint16_t addresses[kMaxInputs];
    int inputs[kMaxInputs];
    int count = 0;
    for (const auto& [address, input] : artnetIndex_) {
        if (count == kMaxInputs ||
            (poll.targeted && (address < poll.targetBottom || address > poll.targetTop))) {
            continue;
        }
        addresses[count] = address;
        inputs[count++] = input;
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
    ReplyGroup groups[kMaxInputs];
    const int replyCount = GroupPollReplies(addresses, count, groups);
    replies.MacFor(node.address, node.mac);
    std::uint8_t reply[kArtPollReplySize];
    for (int r = 0; r < replyCount; ++r) {
        ReplyOutput outputs[4];
        for (int i = 0; i < groups[r].count; ++i) {
            const int live = LiveSources(inputs[groups[r].indexes[i]]);
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
    for (const Input& in : inputs_) {
        for (int i = 0; in.artnet && i < kArtnetMaxSources; ++i) {
            const ArtnetUniverse& u = *in.artnet;
            alone = alone || (u.Slot(i).used && u.Slot(i).address == from && !u.OtherThan(from));
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
    for (int i = 0; i < static_cast<int>(inputs_.size()); ++i) {
        Input& in = inputs_[i];
        const bool released = in.sacn ? in.sacn->ReleaseHeld(cid, address, any)
                                      : in.artnet->ReleaseHeld(artFrom, any);
        if (released) {
            in.counts.syncs += stopped ? 0 : 1;
            Changed(i);
        }
    }
}

void Bridge::ExpireSyncs(Millis now) {
    int lost[SacnSyncStreams::kStreams];
    const int streams = sacnSync_.Expire(now, lost);
    for (int i = 0; i < streams; ++i) {
        const SyncStream& stream = sacnSync_.At(lost[i]);
        for (int n = 0; n < static_cast<int>(inputs_.size()); ++n) {
            Input& in = inputs_[n];
            if (!in.sacn) {
                continue;
            }
            for (int s = 0; s < kSacnMaxSources; ++s) {
                const SacnSource& src = in.sacn->Slot(s);
                if (src.used && src.syncAddress == stream.address &&
                    std::memcmp(src.cid, stream.cid, sizeof src.cid) == 0) {
                    ++in.counts.syncFallbacks;
                }
            }
            // Falling back, the latest levels go at once; a locked look stays.
            if (stream.state == SyncState::kFree) {
                in.sacn->ReleaseHeld(stream.cid, stream.address, false);
                Changed(n);
            }
        }
    }
    std::uint32_t artLost[ArtSyncSources::kSources];
    const int sources = artSync_.Expire(now, artLost);
    for (int i = 0; i < sources; ++i) {
        for (int n = 0; n < static_cast<int>(inputs_.size()); ++n) {
            Input& in = inputs_[n];
            if (!in.artnet) {
                continue;
            }
            for (int s = 0; s < kArtnetMaxSources; ++s) {
                if (in.artnet->Slot(s).used && in.artnet->Slot(s).address == artLost[i]) {
                    ++in.counts.syncFallbacks;
                }
            }
            in.artnet->ReleaseHeld(artLost[i], false);
            Changed(n);
        }
    }
    if (holdingAll_ && now >= holdAllUntil_) {
        holdingAll_ = false;
        Release(nullptr, 0, 0);
    }
}

PortSync Bridge::SyncOf(int input) const {
    PortSync sync;
    if (sync_ == SyncMode::kOff) {
        return sync;
    }
    if (const SacnUniverse* u = SacnOf(input)) {
        for (int i = 0; i < kSacnMaxSources; ++i) {
            const SacnSource& src = u->Slot(i);
            const SyncStream* stream = src.used && src.syncAddress != 0
                                           ? sacnSync_.Find(src.cid, src.syncAddress)
                                           : nullptr;
            if (stream != nullptr && stream->state != SyncState::kFree) {
                return {SyncKind::kSacn, stream->address, stream->state == SyncState::kLocked};
            }
        }
    } else if (const ArtnetUniverse* a = ArtnetOf(input)) {
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
    for (int i = 0; i < static_cast<int>(inputs_.size()); ++i) {
        Input& input = inputs_[i];
        input.counts.lost += static_cast<std::uint64_t>(input.sacn ? input.sacn->Expire(now)
                                                                   : input.artnet->Expire(now));
        Changed(i);
    }
    // Every port that has had an input is sent again, held or zeroed ones
    // too, so that a host started later gets the look.
    bool due[kNumPorts];
    for (int p = 0; p < kNumPorts; ++p) {
        due[p] = ports_[p].RouteCount() > 0 && ports_[p].Started();
    }
    forwarder_.MarkStale(due, now);
    forwarder_.Flush(now);
}

}  // namespace lxd::bridge
