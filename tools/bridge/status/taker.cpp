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
    for (int p = 0; p < kNumPorts; ++p) {
        if (!map.Mapped(p)) {
            continue;
        }
        Previous& before = previous_[p];
        const UniverseCounts& c = bridge.Counts(p);
        PortStatus port;
        port.port = p;
        port.protocol = map.Port(p).protocol;
        port.universe = map.Port(p).universe;
        port.label = ShortSourceText(map.Port(p));
        port.description = DescribeSource(map.Port(p));
        port.packets = c.packets;
        port.drops = TotalDropped(c);
        port.lost = c.lost;
        port.counts = c;
        port.datagramsForwarded = bridge.Output().Datagrams(p);
        port.sync = bridge.SyncOf(p);
        const std::uint64_t arrived = c.packets + port.drops;
        port.packetsPerSecond = Rate(arrived, before.port, seconds);
        before.port = arrived;
        if (const SacnUniverse* u = bridge.SacnAt(p)) {
            port.priority = u->TopPriority();
            port.perAddress = u->AnyPerAddressPriority();
            port.sampling = u->Sampling();
            port.sourcesSeen = u->SourcesSeen();
            std::copy(u->Output().Levels(), u->Output().Levels() + kChannelsPerPort,
                      port.levels.begin());
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
                // Until its first levels a source drives nothing, whatever
                // the merge made of it: it waits.
                source.state = src.hasLevels ? src.state : SourceState::kWaiting;
                source.packets = src.packets;
                source.sequenceErrors = src.sequenceErrors;
                source.lastSeen = Seconds(now - src.lastHeard);
                source.packetsPerSecond =
                    before.SourceRate(i, src.generation, src.packets, seconds);
                port.sources.push_back(std::move(source));
            }
        } else if (const ArtnetUniverse* a = bridge.ArtnetAt(p)) {
            port.sourcesSeen = a->SourcesSeen();
            std::copy(a->Output().Levels(), a->Output().Levels() + kChannelsPerPort,
                      port.levels.begin());
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
                source.packetsPerSecond =
                    before.SourceRate(i, src.generation, src.packets, seconds);
                port.sources.push_back(std::move(source));
            }
        }
        s.ports.push_back(std::move(port));
    }
    last_ = now;
    started_ = true;
    return s;
}

}  // namespace lxd::bridge
