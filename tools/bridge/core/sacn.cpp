#include "tools/bridge/core/sacn.h"

#include <cstring>

#include "protocol/pack.h"

namespace lxd::bridge {
namespace {

// Offsets of the data packet (a root layer, one framing layer, one DMP layer).
constexpr std::size_t kRootFlagsLength = 16;
constexpr std::size_t kRootVector = 18;
constexpr std::size_t kCid = 22;
constexpr std::size_t kFramingFlagsLength = 38;
constexpr std::size_t kFramingVector = 40;
constexpr std::size_t kSourceName = 44;
constexpr std::size_t kPriority = 108;
constexpr std::size_t kSyncAddress = 109;
constexpr std::size_t kSequence = 111;
constexpr std::size_t kOptions = 112;
constexpr std::size_t kUniverse = 113;
constexpr std::size_t kDmpFlagsLength = 115;
constexpr std::size_t kDmpVector = 117;
constexpr std::size_t kAddressDataType = 118;
constexpr std::size_t kFirstAddress = 119;
constexpr std::size_t kAddressIncrement = 121;
constexpr std::size_t kValueCount = 123;
constexpr std::size_t kStartCode = 125;

// Extended packets (synchronisation, discovery) share the root layer; the
// shortest, a synchronisation packet, has 49 bytes.
constexpr std::size_t kExtendedMinimum = 49;
// Synchronisation packet: framing layer after the root layer.
constexpr std::size_t kSyncSequence = 44;
constexpr std::size_t kSyncUniverse = 45;
// Discovery packet: framing layer (source name, 4 reserved bytes), then the
// universe discovery layer with its pages and list.
constexpr std::size_t kDiscoveryName = 44;
constexpr std::size_t kDiscoveryFlagsLength = 112;
constexpr std::size_t kDiscoveryVector = 114;
constexpr std::size_t kDiscoveryPage = 118;
constexpr std::size_t kDiscoveryLastPage = 119;
constexpr std::size_t kDiscoveryList = 120;

constexpr std::uint32_t kVectorRootData = 0x00000004;
constexpr std::uint32_t kVectorRootExtended = 0x00000008;
constexpr std::uint32_t kVectorFramingData = 0x00000002;
constexpr std::uint32_t kVectorFramingSync = 0x00000001;
constexpr std::uint32_t kVectorFramingDiscovery = 0x00000002;
constexpr std::uint32_t kVectorDiscoveryList = 0x00000001;
constexpr std::uint8_t kVectorDmpSetProperty = 0x02;
constexpr std::uint8_t kAddressDataTypeRelative = 0xA1;
constexpr std::uint8_t kOptionPreview = 0x80;
constexpr std::uint8_t kOptionTerminated = 0x40;
constexpr std::uint8_t kOptionForceSync = 0x20;

constexpr std::uint8_t kPreamble[16] = {0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-',
                                        'E',  '1',  '.',  '1',  '7', 0,   0,   0};

// A PDU's flags (high nibble 0x7) and length (low 12 bits); false on bad flags.
bool FlagsAndLength(const std::uint8_t* p, std::size_t& length) {
    if ((p[0] & 0xF0) != 0x70) {
        return false;
    }
    length = ReadBig16(p) & 0x0FFF;
    return true;
}

// The framing layer of an extended packet of `end` bytes: a synchronisation
// packet or a page of a discovery packet.
SacnParse ParseExtended(const std::uint8_t* data, std::size_t end, SacnSync& sync,
                        SacnDiscovery& discovery) {
    const std::uint32_t vector = ReadBig32(data + kFramingVector);
    std::size_t framingLength;
    const bool framed = FlagsAndLength(data + kFramingFlagsLength, framingLength) &&
                        framingLength == end - kFramingFlagsLength;
    if (vector == kVectorFramingSync) {
        const std::uint32_t address = ReadBig16(data + kSyncUniverse);
        if (!framed || address < kSacnFirstUniverse || address > kSacnLastUniverse) {
            return SacnParse::kSyncLayer;
        }
        sync = {data + kCid, data[kSyncSequence], static_cast<std::uint16_t>(address)};
        return SacnParse::kSync;
    }
    if (vector != kVectorFramingDiscovery) {
        return SacnParse::kNotData;
    }
    if (end < kDiscoveryList) {
        return SacnParse::kTruncated;
    }
    std::size_t layerLength;
    const std::size_t listBytes = end - kDiscoveryList;
    if (!framed || !FlagsAndLength(data + kDiscoveryFlagsLength, layerLength) ||
        layerLength != end - kDiscoveryFlagsLength ||
        ReadBig32(data + kDiscoveryVector) != kVectorDiscoveryList || listBytes % 2 != 0 ||
        listBytes / 2 > kSacnDiscoveryPageSize || data[kDiscoveryPage] > data[kDiscoveryLastPage]) {
        return SacnParse::kDiscoveryLayer;
    }
    // Each page lists its universes in ascending order.
    std::uint32_t previous = 0;
    for (std::size_t at = kDiscoveryList; at < end; at += 2) {
        const std::uint32_t universe = ReadBig16(data + at);
        if (universe <= previous || universe > kSacnLastUniverse) {
            return SacnParse::kDiscoveryLayer;
        }
        previous = universe;
    }
    discovery = {data + kCid,           data + kDiscoveryName,
                 data[kDiscoveryPage],  data[kDiscoveryLastPage],
                 data + kDiscoveryList, static_cast<std::uint16_t>(listBytes / 2)};
    return SacnParse::kDiscovery;
}

}  // namespace

SacnParse ParseSacn(const std::uint8_t* data, std::size_t size, SacnPacket& packet) {
    SacnSync sync;
    SacnDiscovery discovery;
    return ParseSacn(data, size, packet, sync, discovery);
}

SacnParse ParseSacn(const std::uint8_t* data, std::size_t size, SacnPacket& packet, SacnSync& sync,
                    SacnDiscovery& discovery) {
    if (size < kCid + 16) {
        return SacnParse::kTruncated;
    }
    std::size_t rootLength;
    if (std::memcmp(data, kPreamble, sizeof kPreamble) != 0 ||
        !FlagsAndLength(data + kRootFlagsLength, rootLength)) {
        return SacnParse::kRootLayer;
    }
    // Everything below is read inside the root layer's own length.
    const std::size_t end = kRootFlagsLength + rootLength;
    if (end > size) {
        return SacnParse::kTruncated;
    }
    const std::uint32_t rootVector = ReadBig32(data + kRootVector);
    if (rootVector == kVectorRootExtended) {
        return end >= kExtendedMinimum ? ParseExtended(data, end, sync, discovery)
                                       : SacnParse::kTruncated;
    }
    if (rootVector != kVectorRootData) {
        return SacnParse::kRootLayer;
    }
    if (end < kStartCode + 1) {
        return SacnParse::kTruncated;
    }
    std::size_t framingLength;
    if (!FlagsAndLength(data + kFramingFlagsLength, framingLength) ||
        framingLength != end - kFramingFlagsLength ||
        ReadBig32(data + kFramingVector) != kVectorFramingData ||
        data[kPriority] > kSacnMaxPriority) {
        return SacnParse::kFramingLayer;
    }
    const std::uint32_t universe = ReadBig16(data + kUniverse);
    if (universe < kSacnFirstUniverse || universe > kSacnLastUniverse) {
        return SacnParse::kFramingLayer;
    }
    std::size_t dmpLength;
    if (!FlagsAndLength(data + kDmpFlagsLength, dmpLength) || dmpLength != end - kDmpFlagsLength ||
        data[kDmpVector] != kVectorDmpSetProperty ||
        data[kAddressDataType] != kAddressDataTypeRelative ||
        ReadBig16(data + kFirstAddress) != 0 || ReadBig16(data + kAddressIncrement) != 1) {
        return SacnParse::kDmpLayer;
    }
    const std::uint32_t count = ReadBig16(data + kValueCount);
    if (count < 1 || count > 513 || count != end - kStartCode) {
        return SacnParse::kDmpLayer;
    }
    packet.cid = data + kCid;
    packet.sourceName = data + kSourceName;
    packet.priority = data[kPriority];
    packet.syncAddress = static_cast<std::uint16_t>(ReadBig16(data + kSyncAddress));
    packet.sequence = data[kSequence];
    packet.preview = (data[kOptions] & kOptionPreview) != 0;
    packet.terminated = (data[kOptions] & kOptionTerminated) != 0;
    packet.forceSync = (data[kOptions] & kOptionForceSync) != 0;
    packet.universe = static_cast<std::uint16_t>(universe);
    packet.startCode = data[kStartCode];
    packet.slots = data + kStartCode + 1;
    packet.slotCount = static_cast<std::uint16_t>(count - 1);
    return SacnParse::kData;
}

bool PeekSacnUniverse(const std::uint8_t* data, std::size_t size, std::uint16_t& universe) {
    if (size < kUniverse + 2 || ReadBig32(data + kRootVector) != kVectorRootData ||
        ReadBig32(data + kFramingVector) != kVectorFramingData) {
        return false;
    }
    const std::uint32_t number = ReadBig16(data + kUniverse);
    universe = static_cast<std::uint16_t>(number);
    return number >= kSacnFirstUniverse && number <= kSacnLastUniverse;
}

const char* SacnParseName(SacnParse result) {
    switch (result) {
        case SacnParse::kData:
            return "data";
        case SacnParse::kNotData:
            return "not_data";
        case SacnParse::kTruncated:
            return "truncated";
        case SacnParse::kRootLayer:
            return "root_layer";
        case SacnParse::kFramingLayer:
            return "framing_layer";
        case SacnParse::kDmpLayer:
            return "dmp_layer";
        case SacnParse::kSync:
            return "sync";
        case SacnParse::kDiscovery:
            return "discovery";
        case SacnParse::kSyncLayer:
            return "sync_layer";
        case SacnParse::kDiscoveryLayer:
            return "discovery_layer";
    }
    return "unknown";
}

}  // namespace lxd::bridge
