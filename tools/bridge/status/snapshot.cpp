#include "tools/bridge/status/snapshot.h"

#include <cstdio>

namespace lxd::bridge {

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

}  // namespace lxd::bridge
