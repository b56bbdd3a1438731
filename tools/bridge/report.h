// What the bridge tells its user: the summary at the end, as text or JSON,
// and the pieces the status view shares with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bridge/bridge.h"

namespace lxd::bridge {

struct RunInfo {
    double seconds = 0;
    std::string to;    // HOST:PORT of the driver
    std::string name;  // the bridge's name, as consoles see it
};

// Dotted IPv4 text of a host-order address.
std::string IpText(std::uint32_t address);

// "sACN 7" or "Art-Net 0:0:7".
std::string ShortSourceText(const PortSource& source);
std::uint64_t TotalDropped(const UniverseCounts& counts);
// Malformed datagrams of each protocol (all parse failures).
std::uint64_t SacnMalformed(const SacnCounts& counts);
std::uint64_t ArtnetMalformed(const ArtnetCounts& counts);

struct NetworkStatus;

// `network`, where given, adds the interfaces used and the receive buffer.
std::string SummaryText(const Bridge& bridge, const RunInfo& run,
                        const NetworkStatus* network = nullptr);

// The parse results that count as malformed datagrams.
inline constexpr SacnParse kSacnFaults[] = {SacnParse::kTruncated, SacnParse::kRootLayer,
                                            SacnParse::kFramingLayer, SacnParse::kDmpLayer};
inline constexpr ArtnetParse kArtnetFaults[] = {ArtnetParse::kNotArtnet, ArtnetParse::kOldVersion,
                                                ArtnetParse::kBadLength, ArtnetParse::kTruncated,
                                                ArtnetParse::kBadAddress};
// The drop reasons that can happen to a protocol's universes.
std::vector<Drop> DropsOf(Protocol protocol);

}  // namespace lxd::bridge
