#include "tools/bridge/status/summary.h"

#include <cstdio>

namespace lxd::bridge {
namespace {

std::string Number(std::uint64_t n) {
    return std::to_string(n);
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

std::string Interfaces(const NetworkStatus& network) {
    std::string used;
    for (const InterfaceStatus& i : network.interfaces) {
        used += (used.empty() ? "" : ", ") + i.name + " " + i.address + " (" +
                Number(i.joined.size()) + " groups joined" +
                (i.failed.empty() ? "" : ", " + Number(i.failed.size()) + " failed: " + i.error) +
                ")";
    }
    for (const std::string& name : network.missing) {
        used += (used.empty() ? "" : ", ") + name + " (not present)";
    }
    return "  interfaces: " + (used.empty() ? std::string("none") : used) + "; receive buffer " +
           Number(static_cast<std::uint64_t>(network.receiveBufferGranted)) + " bytes\n";
}

}  // namespace

std::string SummaryText(const Snapshot& s) {
    std::string out = "lxdravik-bridge: " + SecondsText(s.seconds) + " s, " +
                      Number(s.datagramsSent) + " datagrams sent to " + s.to;
    if (s.sendFailures > 0) {
        out += " (" + Number(s.sendFailures) + " could not be sent)";
    }
    out += "\n" + Interfaces(s.network);
    if (s.sacn) {
        out += "  sACN: " + Number(s.sacnCounts.datagrams) + " datagrams, " +
               Number(s.sacnMalformed) + " malformed, " + Number(s.sacnCounts.unmapped) +
               " for universes not mapped\n";
    }
    const std::uint64_t sacnSyncs = s.sacnCounts.parsed[static_cast<int>(SacnParse::kSync)];
    const std::uint64_t artSyncs = s.artnetCounts.parsed[static_cast<int>(ArtnetParse::kSync)];
    if (sacnSyncs + artSyncs > 0 || s.syncMode != SyncMode::kAuto) {
        out += std::string("  sync ") + SyncModeName(s.syncMode) + ": " + Number(sacnSyncs) +
               " sACN synchronisation packets (" + Number(s.sacnCounts.syncOutOfOrder) +
               " out of order, " + Number(s.sacnCounts.syncUnknown) + " for no stream received), " +
               Number(artSyncs) + " ArtSync (" + Number(s.artnetCounts.syncIgnored) + " ignored)\n";
    }
    if (!s.discovered.empty()) {
        std::size_t universes = 0;
        for (const DiscoveredStatus& d : s.discovered) {
            universes += d.universes.size();
        }
        out += "  discovered: " + Number(s.discovered.size()) + " sources announce " +
               Number(universes) + " universes\n";
    }
    if (s.artnet) {
        const ArtnetCounts& a = s.artnetCounts;
        out += "  Art-Net: " + Number(a.datagrams) + " datagrams, " + Number(s.artnetMalformed) +
               " malformed, " + Number(a.unmapped) + " for port-addresses not mapped, " +
               Number(s.pollsAnswered) + " polls answered with " + Number(a.replies) + " replies" +
               (a.pollsIgnored > 0
                    ? ", " + Number(a.pollsIgnored) + " not (from another network, or too many)"
                    : "") +
               "\n";
    }
    for (const PortStatus& port : s.ports) {
        out += "  port " + std::to_string(port.port) + " " + port.description + ": " +
               Number(port.packets) + " packets, " + Number(port.drops) + " dropped, " +
               Number(port.datagramsForwarded) +
               " datagrams forwarded, sources seen: " + Number(port.sourcesSeen) + "\n";
        if (port.counts.syncs + port.counts.syncFallbacks > 0) {
            out += "    synchronised " + Number(port.counts.syncs) + " times, " +
                   Number(port.counts.syncFallbacks) + " syncs stopped\n";
        }
        std::string reasons;
        for (const Drop d : DropsOf(port.protocol)) {
            if (const std::uint64_t n = port.counts.dropped[static_cast<int>(d)]; n > 0) {
                reasons += (reasons.empty() ? "" : ", ") + Number(n) + " " + DropName(d);
            }
        }
        if (!reasons.empty()) {
            out += "    dropped: " + reasons + "\n";
        }
    }
    return out;
}

}  // namespace lxd::bridge
