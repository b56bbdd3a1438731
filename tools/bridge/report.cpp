#include "tools/bridge/report.h"

#include <cstdio>

#include "tools/bridge/snapshot.h"

namespace lxd::bridge {
namespace {

std::string Number(std::uint64_t n) {
    return std::to_string(n);
}

std::uint32_t SourcesSeen(const Bridge& bridge, int port) {
    if (const SacnUniverse* u = bridge.SacnAt(port)) {
        return u->SourcesSeen();
    }
    return bridge.ArtnetAt(port)->SourcesSeen();
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

}  // namespace

std::vector<Drop> DropsOf(Protocol protocol) {
    if (protocol == Protocol::kSacn) {
        return {Drop::kPreview, Drop::kOutOfOrder, Drop::kSourceLimit, Drop::kStartCode};
    }
    return {Drop::kThirdSource};
}

std::string IpText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF,
                  address >> 8 & 0xFF, address & 0xFF);
    return text;
}

std::string ShortSourceText(const PortSource& source) {
    return source.protocol == Protocol::kSacn ? "sACN " + std::to_string(source.universe)
                                              : "Art-Net " + ArtnetAddressText(source.universe);
}

std::uint64_t TotalDropped(const UniverseCounts& counts) {
    std::uint64_t n = 0;
    for (const std::uint64_t d : counts.dropped) {
        n += d;
    }
    return n;
}

std::uint64_t SacnMalformed(const SacnCounts& counts) {
    std::uint64_t n = 0;
    for (const SacnParse fault : kSacnFaults) {
        n += counts.parsed[static_cast<int>(fault)];
    }
    return n;
}

std::uint64_t ArtnetMalformed(const ArtnetCounts& counts) {
    std::uint64_t n = 0;
    for (const ArtnetParse fault : kArtnetFaults) {
        n += counts.parsed[static_cast<int>(fault)];
    }
    return n;
}

std::string SummaryText(const Bridge& bridge, const RunInfo& run, const NetworkStatus* network) {
    const Mapping& map = bridge.Map();
    std::string out = "lxdravik-bridge: " + SecondsText(run.seconds) + " s, " +
                      Number(bridge.Output().Datagrams()) + " datagrams sent to " + run.to;
    if (bridge.Output().SendFailures() > 0) {
        out += " (" + Number(bridge.Output().SendFailures()) + " could not be sent)";
    }
    out += "\n";
    if (network != nullptr) {
        std::string used;
        for (const InterfaceStatus& i : network->interfaces) {
            used +=
                (used.empty() ? "" : ", ") + i.name + " " + i.address + " (" +
                Number(i.joined.size()) + " groups joined" +
                (i.failed.empty() ? "" : ", " + Number(i.failed.size()) + " failed: " + i.error) +
                ")";
        }
        for (const std::string& name : network->missing) {
            used += (used.empty() ? "" : ", ") + name + " (not present)";
        }
        out += "  interfaces: " + (used.empty() ? std::string("none") : used) +
               "; receive buffer " +
               Number(static_cast<std::uint64_t>(network->receiveBufferGranted)) + " bytes\n";
    }
    if (map.Count(Protocol::kSacn) > 0) {
        const SacnCounts& s = bridge.Sacn();
        out += "  sACN: " + Number(s.datagrams) + " datagrams, " + Number(SacnMalformed(s)) +
               " malformed, " + Number(s.unmapped) + " for universes not mapped\n";
    }
    if (map.Count(Protocol::kArtnet) > 0) {
        const ArtnetCounts& a = bridge.Artnet();
        out += "  Art-Net: " + Number(a.datagrams) + " datagrams, " + Number(ArtnetMalformed(a)) +
               " malformed, " + Number(a.unmapped) + " for port-addresses not mapped, " +
               Number(a.parsed[static_cast<int>(ArtnetParse::kPoll)]) + " polls answered with " +
               Number(a.replies) + " replies\n";
    }
    for (int p = 0; p < kNumPorts; ++p) {
        if (!map.Mapped(p)) {
            continue;
        }
        const UniverseCounts& c = bridge.Counts(p);
        out += "  port " + std::to_string(p) + " " + DescribeSource(map.Port(p)) + ": " +
               Number(c.packets) + " packets, " + Number(TotalDropped(c)) + " dropped, " +
               Number(bridge.Output().Datagrams(p)) +
               " datagrams forwarded, sources seen: " + Number(SourcesSeen(bridge, p)) + "\n";
        std::string reasons;
        for (const Drop d : DropsOf(map.Port(p).protocol)) {
            if (c.dropped[static_cast<int>(d)] > 0) {
                reasons += (reasons.empty() ? "" : ", ") + Number(c.dropped[static_cast<int>(d)]) +
                           " " + DropName(d);
            }
        }
        if (!reasons.empty()) {
            out += "    dropped: " + reasons + "\n";
        }
    }
    return out;
}

}  // namespace lxd::bridge
