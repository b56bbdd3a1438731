// sACN (ANSI E1.31): data, synchronisation and universe discovery packets,
// their layers checked against the bytes received, without copying.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd::bridge {

inline constexpr std::uint16_t kSacnPort = 5568;
inline constexpr std::size_t kSacnMaxPacket = 638;  // 125 header bytes and 513 property values
inline constexpr std::uint8_t kSacnMaxPriority = 200;
inline constexpr std::uint8_t kStartCodeLevels = 0x00;
inline constexpr std::uint8_t kStartCodePriorities = 0xDD;  // per-address priority
// Universes of data; those above are reserved (64214 is discovery's).
inline constexpr std::uint32_t kSacnFirstUniverse = 1;
inline constexpr std::uint32_t kSacnLastUniverse = 63999;
inline constexpr std::uint16_t kSacnDiscoveryUniverse = 64214;
inline constexpr int kSacnDiscoveryPageSize = 512;  // universes on one page at most

enum class SacnParse : std::uint8_t {
    kData,            // a data packet: see SacnPacket
    kNotData,         // an extended packet of another kind: not used here
    kTruncated,       // shorter than a layer's length says, or than any packet of its kind
    kRootLayer,       // preamble, postamble, identifier, flags or vector
    kFramingLayer,    // flags, length, vector, priority or universe
    kDmpLayer,        // flags, length, vector, types, address, increment or count
    kSync,            // a synchronisation packet: see SacnSync
    kDiscovery,       // a page of a universe discovery packet: see SacnDiscovery
    kSyncLayer,       // synchronisation packet: flags, length or synchronisation address
    kDiscoveryLayer,  // discovery packet: flags, lengths, vector, pages or universe list
};
inline constexpr int kSacnParseResults = 10;

struct SacnPacket {
    const std::uint8_t* cid;         // 16 bytes
    const std::uint8_t* sourceName;  // 64 bytes, UTF-8, null-terminated unless all 64 are used
    std::uint8_t priority;           // 0..200
    std::uint16_t syncAddress;
    std::uint8_t sequence;
    bool preview;
    bool terminated;
    // The Force_Synchronization option: when synchronisation packets stop,
    // set lets the receiver apply data as it comes again, clear asks it to
    // keep the synchronised look until they return.
    bool forceSync;
    std::uint16_t universe;  // 1..63999
    std::uint8_t startCode;
    const std::uint8_t* slots;  // the property values after the start code
    std::uint16_t slotCount;    // 0..512
};

// A synchronisation packet: the source's data that names `address` is to be
// applied now.
struct SacnSync {
    const std::uint8_t* cid;  // 16 bytes
    std::uint8_t sequence;
    std::uint16_t address;  // 1..63999
};

// One page of a source's list of the universes it sends.
struct SacnDiscovery {
    const std::uint8_t* cid;         // 16 bytes
    const std::uint8_t* sourceName;  // 64 bytes, as in data packets
    std::uint8_t page;               // 0..lastPage
    std::uint8_t lastPage;
    const std::uint8_t* universes;  // `count` big-endian numbers, ascending, 1..63999
    std::uint16_t count;            // 0..512
};

// Parses `size` received bytes; fills `packet` only for kData, `sync` only
// for kSync, `discovery` only for kDiscovery. Reads nothing at or past
// data + size.
SacnParse ParseSacn(const std::uint8_t* data, std::size_t size, SacnPacket& packet, SacnSync& sync,
                    SacnDiscovery& discovery);
SacnParse ParseSacn(const std::uint8_t* data, std::size_t size, SacnPacket& packet);

// The universe of what looks like a data packet, read before any other
// field: true when the root and framing vectors say data and the universe is
// one that data may have (1..63999). The packet may still be malformed.
bool PeekSacnUniverse(const std::uint8_t* data, std::size_t size, std::uint16_t& universe);

const char* SacnParseName(SacnParse result);

// 239.255.hi.lo, the multicast group of a universe, as a host-order address.
inline std::uint32_t SacnMulticastGroup(std::uint16_t universe) {
    return 0xEFFF0000u | universe;
}

}  // namespace lxd::bridge
