#include "tools/bridge/status/taker.h"

#include <algorithm>
#include <cstdio>

namespace lxd::bridge {
namespace {

std::string CidText(const std::uint8_t* cid) {
    char text[37];
    int at = 0;
    for (int i = 0; i < 16; ++i) {
        at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), "%02x", cid[i]);
        if (i == 3 || i == 5 || i == 7 || i == 9) {
            text[at++] = '-';
        }
    }
    text[at] = 0;
    return text;
}

double Seconds(Millis d) {
    return static_cast<double>(d.count()) / 1000.0;
}

std::vector<UnmappedStatus> Unmapped(const UnmappedSeen& seen, Millis now) {
    std::vector<UnmappedStatus> out;
    for (int i = 0; i < seen.Count(); ++i) {
        out.push_back({seen.At(i).universe, seen.At(i).packets, Seconds(now - seen.At(i).last)});
    }
    std::sort(out.begin(), out.end(), [](const UnmappedStatus& a, const UnmappedStatus& b) {
        return a.lastSeen < b.lastSeen;
    });
    return out;
}

double Rate(std::uint64_t now, std::uint64_t before, double seconds) {
    return seconds > 0 && now >= before ? static_cast<double>(now - before) / seconds : 0.0;
}

}  // namespace

double SnapshotTaker::Previous::SourceRate(int slot, std::uint32_t generation,
                                           std::uint64_t packets, double seconds) {
    // A slot that took another source since counts that one from 0.
    const double rate =
        Rate(packets, generation == this->generation[slot] ? sources[slot] : 0, seconds);
    sources[slot] = packets;
    this->generation[slot] = generation;
    return rate;
}

bool ReadPortLevels(const Bridge& bridge, int port, std::uint8_t* out) {
    if (port < 0 || port >= kNumPorts || bridge.Port(port).RouteCount() == 0) {
        return false;
    }
    const std::uint8_t* levels = bridge.Port(port).Levels();
    std::copy(levels, levels + kChannelsPerPort, out);
    return true;
}

Snapshot SnapshotTaker::Take(const Bridge& bridge, const NetworkStatus& network, const RunInfo& run,
                             Millis now) {
    const double seconds = started_ ? Seconds(now - last_) : 0.0;
    const Mapping& map = bridge.Map();
    Snapshot s;
    s.seconds = run.seconds;
    s.to = run.to;
    s.datagramsSent = bridge.Output().Datagrams();
    s.sendFailures = bridge.Output().SendFailures();
    s.sacnDatagrams = bridge.Sacn().datagrams;
    s.sacnMalformed = SacnMalformed(bridge.Sacn());
    s.artnetDatagrams = bridge.Artnet().datagrams;
    s.artnetMalformed = ArtnetMalformed(bridge.Artnet());
    s.pollsAnswered =
        bridge.Artnet().parsed[static_cast<int>(ArtnetParse::kPoll)] - bridge.Artnet().pollsIgnored;
    s.sacn = map.Count(Protocol::kSacn) > 0;
    s.artnet = map.Count(Protocol::kArtnet) > 0;
    s.network = network;
    s.name = run.name;
    s.lastSentAgo = s.datagramsSent > 0 ? Seconds(now - bridge.Output().LastSent()) : -1;
    s.sacnCounts = bridge.Sacn();
    s.artnetCounts = bridge.Artnet();
    s.unmappedSacn = Unmapped(bridge.UnmappedSacn(), now);
    s.unmappedArtnet = Unmapped(bridge.UnmappedArtnet(), now);
    s.syncMode = bridge.Sync();
    for (int i = 0; i < SacnSyncStreams::kStreams; ++i) {
        const SyncStream& y = bridge.SyncStreams().At(i);
        if (y.used) {
            s.syncStreams.push_back(
                {CidText(y.cid), y.address, y.state, y.syncs, y.fallbacks, y.sequenceErrors});
        }
    }
    for (int i = 0; i < DiscoveredSources::kSources; ++i) {
        const DiscoveredSources::Source& d = bridge.Discovered().Slot(i);
        if (d.used) {
            s.discovered.push_back({d.name, CidText(d.cid), IpText(d.address),
                                    std::vector<std::uint16_t>(d.universes, d.universes + d.count),
                                    d.cut, Seconds(now - d.last)});
        }
    }
    std::sort(s.discovered.begin(), s.discovered.end(),
              [](const DiscoveredStatus& a, const DiscoveredStatus& b) { return a.name < b.name; });
    std::vector<InputStatus> inputs;
    for (int i = 0; i < bridge.Inputs(); ++i) {
        inputs.push_back(TakeInput(bridge, i, now, seconds));
    }
    for (int p = 0; p < kNumPorts; ++p) {
        const PortMerge& merge = bridge.Port(p);
        if (merge.RouteCount() == 0) {
            continue;
        }
        PortStatus port;
        port.port = p;
        const PortSource& first = bridge.InputKey(bridge.RouteInput(p, 0));
        port.protocol = first.protocol;
        port.universe = first.universe;
        port.label = ShortSourceText(first) +
                     (merge.RouteCount() > 1 ? " +" + std::to_string(merge.RouteCount() - 1) : "");
        port.datagramsForwarded = bridge.Output().Datagrams(p);
        port.ltp = merge.MergeRule() == Merge::kLtp;
        port.hold = merge.Hold();
        std::copy(merge.Levels(), merge.Levels() + kChannelsPerPort, port.levels.begin());
        std::copy(merge.Winners(), merge.Winners() + kChannelsPerPort, port.winners.begin());
        std::vector<int> seen;
        for (int r = 0; r < merge.RouteCount(); ++r) {
            const int input = bridge.RouteInput(p, r);
            const PortSource& key = bridge.InputKey(input);
            const PortRoute& route = merge.Route(r);
            port.routes.push_back({ShortSourceText(key), route.from + 1, route.from + route.count,
                                   route.to + 1, route.priority});
            port.description += (port.description.empty() ? "" : ", ") + DescribeSource(key) +
                                (route.count < kChannelsPerPort || route.from != route.to
                                     ? " " + std::to_string(route.from + 1) + "-" +
                                           std::to_string(route.from + route.count) + " at " +
                                           std::to_string(route.to + 1)
                                     : "");
            if (std::find(seen.begin(), seen.end(), input) != seen.end()) {
                continue;  // one input on two routes of the port counts once
            }
            seen.push_back(input);
            const UniverseCounts& c = bridge.Counts(input);
            port.packets += c.packets;
            port.lost += c.lost;
            port.counts.packets += c.packets;
            port.counts.lost += c.lost;
            port.counts.duplicates += c.duplicates;
            port.counts.syncs += c.syncs;
            port.counts.syncFallbacks += c.syncFallbacks;
            if (port.sync.kind == SyncKind::kNone) {
                port.sync = bridge.SyncOf(input);
            }
            for (int d = 0; d < kDropReasons; ++d) {
                port.counts.dropped[d] += c.dropped[d];
                port.drops += c.dropped[d];
            }
            port.packetsPerSecond += inputs[input].packetsPerSecond;
            port.sources.insert(port.sources.end(), inputs[input].sources.begin(),
                                inputs[input].sources.end());
            if (const SacnUniverse* u = bridge.SacnOf(input)) {
                port.priority = std::max(port.priority, u->TopPriority());
                port.perAddress = port.perAddress || u->AnyPerAddressPriority();
                port.sampling = port.sampling || u->Sampling();
                port.sourcesSeen += u->SourcesSeen();
            } else {
                port.sourcesSeen += bridge.ArtnetOf(input)->SourcesSeen();
            }
        }
        s.ports.push_back(std::move(port));
    }
    last_ = now;
    started_ = true;
    return s;
}

SnapshotTaker::InputStatus SnapshotTaker::TakeInput(const Bridge& bridge, int input, Millis now,
                                                    double seconds) {
    Previous& before = previous_[input];
    InputStatus out;
    const UniverseCounts& c = bridge.Counts(input);
    const std::uint64_t arrived = c.packets + TotalDropped(c);
    out.packetsPerSecond = Rate(arrived, before.arrived, seconds);
    before.arrived = arrived;
    const std::string label = ShortSourceText(bridge.InputKey(input));
    if (const SacnUniverse* u = bridge.SacnOf(input)) {
        for (int i = 0; i < kSacnMaxSources; ++i) {
            const SacnSource& src = u->Slot(i);
            if (!src.used) {
                continue;
            }
            SourceStatus source;
            source.name = src.name;
            source.address = src.from.address != 0 ? IpText(src.from.address) : "";
            source.cid = CidText(src.cid);
            source.priority = src.priority;
            source.perAddress = src.hasPriorities;
            // Until its first levels a source drives nothing, whatever the
            // merge made of it: it waits.
            source.state = src.hasLevels ? src.state : SourceState::kWaiting;
            source.packets = src.packets;
            source.sequenceErrors = src.sequenceErrors;
            source.lastSeen = Seconds(now - src.lastHeard);
            source.packetsPerSecond = before.SourceRate(i, src.generation, src.packets, seconds);
            source.input = label;
            out.sources.push_back(std::move(source));
        }
    } else if (const ArtnetUniverse* a = bridge.ArtnetOf(input)) {
        for (int i = 0; i < kArtnetMaxSources; ++i) {
            const ArtnetSource& src = a->Slot(i);
            if (!src.used) {
                continue;
            }
            SourceStatus source;
            source.name = IpText(src.address);
            source.address = source.name;
            source.packets = src.packets;
            source.lastSeen = Seconds(now - src.last);
            source.packetsPerSecond = before.SourceRate(i, src.generation, src.packets, seconds);
            source.input = label;
            out.sources.push_back(std::move(source));
        }
    }
    return out;
}

}  // namespace lxd::bridge
