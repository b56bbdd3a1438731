#include "tools/bridge/core/bridge.h"

#include <algorithm>

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
    : mapping_(mapping), forwarder_(sink) {
    Build(mapping, holdOnLoss, Millis(0), nullptr);
}

void Bridge::Remap(const Mapping& mapping, bool holdOnLoss, Millis now) {
    std::vector<Input> before = std::move(inputs_);
    const Mapping old = mapping_;
    std::vector<int> oldPortRoutes[kNumPorts];
    for (int p = 0; p < kNumPorts; ++p) {
        oldPortRoutes[p] = portRoutes_[p];
    }
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

void Bridge::OnSacn(const std::uint8_t* data, std::size_t size, Millis now, Arrival from) {
    ++sacnCounts_.datagrams;
    SacnPacket packet;
    const SacnParse parsed = ParseSacn(data, size, packet);
    ++sacnCounts_.parsed[static_cast<int>(parsed)];
    if (parsed != SacnParse::kData) {
        return;
    }
    const int input = FindInput(Protocol::kSacn, packet.universe);
    if (input < 0) {
        ++sacnCounts_.unmapped;
        unmappedSacn_.Note(packet.universe, now);
        return;
    }
    UniverseCounts& counts = inputs_[input].counts;
    const SacnVerdict verdict = inputs_[input].sacn->Apply(packet, now, from);
    switch (verdict) {
        case SacnVerdict::kDuplicate:
            ++counts.duplicates;
            break;
        case SacnVerdict::kLevels:
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
        AnswerPoll(poll, from, replies);
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
    if (inputs_[input].artnet->Apply(dmx, from, now) == ArtnetVerdict::kThirdSource) {
        ++counts.dropped[static_cast<int>(Drop::kThirdSource)];
        return;
    }
    ++counts.packets;
    Changed(input);
}

void Bridge::AnswerPoll(const ArtPoll& poll, std::uint32_t from, ReplySink& replies) {
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
    ReplyGroup groups[kMaxInputs];
    const int replyCount = GroupPollReplies(addresses, count, groups);
    NodeIdentity node = node_;
    node.address = replies.OwnAddressFor(from);
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

void Bridge::Flush(Millis now) {
    forwarder_.Flush(now);
}

void Bridge::Tick(Millis now) {
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
