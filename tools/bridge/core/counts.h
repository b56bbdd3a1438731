// What the bridge counts, and where a source stands, as plain values: what
// the status snapshot copies out of the core.
#pragma once

#include <cstdint>

#include "tools/bridge/core/artnet.h"
#include "tools/bridge/core/sacn.h"

namespace lxd::bridge {

// Where a source stands with the merge.
enum class SourceState : std::uint8_t {
    kWaiting,  // new: held back while sampling or until its per-address priorities come
    kLive,     // merged
    kLost,     // timed out or terminated; still merged until the loss settles
};
const char* SourceStateName(SourceState state);

// Why a well-formed packet of a mapped universe was not used.
enum class Drop : std::uint8_t {
    kPreview,
    kOutOfOrder,
    kSourceLimit,
    kStartCode,    // sACN start code other than levels or per-address priority
    kThirdSource,  // Art-Net: two other sources are live
};
inline constexpr int kDropReasons = 5;
const char* DropName(Drop drop);

struct UniverseCounts {
    std::uint64_t packets = 0;  // data packets used
    std::uint64_t dropped[kDropReasons] = {};
    std::uint64_t lost = 0;           // sources lost: timed out or (sACN) terminated
    std::uint64_t duplicates = 0;     // sACN packets that arrived again on another interface
    std::uint64_t syncs = 0;          // synchronisations that released held levels
    std::uint64_t syncFallbacks = 0;  // times the synchronisation of a source here stopped
};

struct SacnCounts {
    std::uint64_t datagrams = 0;
    std::uint64_t parsed[kSacnParseResults] = {};  // by SacnParse
    std::uint64_t unmapped = 0;                    // data packets of universes not mapped
    std::uint64_t syncOutOfOrder = 0;              // synchronisation packets out of order
    std::uint64_t syncUnknown = 0;  // synchronisation packets no data we receive names
};

struct ArtnetCounts {
    std::uint64_t datagrams = 0;
    std::uint64_t parsed[kArtnetParseResults] = {};  // by ArtnetParse
    std::uint64_t unmapped = 0;                      // ArtDmx of port-addresses not mapped
    std::uint64_t replies = 0;                       // ArtPollReply packets sent
    std::uint64_t pollsIgnored = 0;  // ArtPoll from another network, or beyond the bounds
    std::uint64_t syncIgnored = 0;   // ArtSync from an address that alone feeds no port
};

// How a port's levels are synchronised now.
enum class SyncKind : std::uint8_t {
    kNone,     // applied as they come
    kSacn,     // by its sources' sACN synchronisation universe
    kArtSync,  // by its source's ArtSync
    kAll,      // sync = "all": by any synchronisation of the rig
};
const char* SyncKindName(SyncKind kind);

struct PortSync {
    SyncKind kind = SyncKind::kNone;
    std::uint16_t address = 0;  // kSacn: the synchronisation universe
    bool locked = false;        // kSacn: synchronisation stopped; the look stays until it returns
};

}  // namespace lxd::bridge
