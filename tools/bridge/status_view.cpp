#include "tools/bridge/status_view.h"

#include <cstdio>

namespace lxd::bridge {

std::string StatusView::Render(const Bridge& bridge, const RunInfo& run, Millis now) {
    const Mapping& map = bridge.Map();
    const double seconds = started_ ? static_cast<double>((now - last_).count()) / 1000.0 : 0.0;
    char line[256];
    std::snprintf(line, sizeof line, " lxdravik-bridge  to %s  %.0f s  %llu datagrams sent\n",
                  run.to.c_str(), run.seconds,
                  static_cast<unsigned long long>(bridge.Output().Datagrams()));
    std::string out = line;
    if (map.Count(Protocol::kSacn) > 0) {
        std::snprintf(line, sizeof line, " sACN UDP %u: %llu datagrams, %llu malformed\n",
                      kSacnPort, static_cast<unsigned long long>(bridge.Sacn().datagrams),
                      static_cast<unsigned long long>(SacnMalformed(bridge.Sacn())));
        out += line;
    }
    if (map.Count(Protocol::kArtnet) > 0) {
        const ArtnetCounts& a = bridge.Artnet();
        std::snprintf(
            line, sizeof line,
            " Art-Net UDP %u: %llu datagrams, %llu malformed, %llu polls answered\n", kArtnetPort,
            static_cast<unsigned long long>(a.datagrams),
            static_cast<unsigned long long>(ArtnetMalformed(a)),
            static_cast<unsigned long long>(a.parsed[static_cast<int>(ArtnetParse::kPoll)]));
        out += line;
    }
    out += "\n port  universe         pkt/s  prio   drops  sources\n";
    for (int p = 0; p < kDriverPorts; ++p) {
        if (!map.Mapped(p)) {
            continue;
        }
        const UniverseCounts& c = bridge.Counts(p);
        const std::uint64_t packets = c.packets + TotalDropped(c);
        const double rate = seconds > 0 ? static_cast<double>(packets - packets_[p]) / seconds : 0;
        packets_[p] = packets;
        std::string priority = "-";
        if (const SacnUniverse* u = bridge.SacnAt(p); u != nullptr && u->TopPriority() >= 0) {
            priority = std::to_string(u->TopPriority()) + (u->AnyPerAddressPriority() ? "+" : "");
        }
        std::string sources;
        for (const std::string& name : LiveSourceNames(bridge, p)) {
            sources += (sources.empty() ? "" : ", ") + name;
        }
        std::snprintf(line, sizeof line, " %4d  %-15s %6.0f  %4s  %6llu  %s\n", p,
                      ShortSourceText(map.Port(p)).c_str(), rate, priority.c_str(),
                      static_cast<unsigned long long>(TotalDropped(c)),
                      sources.empty() ? "(none)" : sources.c_str());
        out += line;
    }
    out +=
        "\n prio: winning priority, + where sources send per-address priorities."
        "  Ctrl-C ends.\n";
    last_ = now;
    started_ = true;
    return out;
}

}  // namespace lxd::bridge
