#include "tools/bridge/core/artnet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/pack.h"

namespace lxd::bridge {
namespace {

constexpr std::uint8_t kId[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr std::uint32_t kOpPoll = 0x2000;
constexpr std::uint32_t kOpPollReply = 0x2100;
constexpr std::uint32_t kOpDmx = 0x5000;
constexpr std::uint32_t kOpSync = 0x5200;

// Shared header: id, OpCode (little-endian), then for most packets the
// protocol version (big-endian).
constexpr std::size_t kOpCode = 8;
constexpr std::size_t kVersion = 10;

// ArtDmx
constexpr std::size_t kDmxSequence = 12;
constexpr std::size_t kDmxSubUni = 14;
constexpr std::size_t kDmxNet = 15;
constexpr std::size_t kDmxLength = 16;
constexpr std::size_t kDmxData = 18;

// ArtSync: the version, then two bytes sent as 0 and not read.
constexpr std::size_t kSyncSize = 14;

// ArtPoll
constexpr std::size_t kPollFlags = 12;
constexpr std::size_t kPollMinimum = 14;
constexpr std::size_t kPollTargetTop = 14;
constexpr std::size_t kPollTargetBottom = 16;
constexpr std::size_t kPollTargetedSize = 18;
constexpr std::uint8_t kPollFlagTargeted = 0x20;

// ArtPollReply
constexpr std::size_t kReplyAddress = 10;
constexpr std::size_t kReplyPort = 14;
constexpr std::size_t kReplyVersion = 16;
constexpr std::size_t kReplyNet = 18;
constexpr std::size_t kReplySubNet = 19;
constexpr std::size_t kReplyOem = 20;
constexpr std::size_t kReplyShortName = 26;
constexpr std::size_t kReplyLongName = 44;
constexpr std::size_t kReplyNodeReport = 108;
constexpr std::size_t kReplyPortCount = 172;
constexpr std::size_t kReplyPortTypes = 174;
constexpr std::size_t kReplyGoodOutput = 182;
constexpr std::size_t kReplySwOut = 190;
constexpr std::size_t kReplyMac = 201;
constexpr std::size_t kReplyBindAddress = 207;
constexpr std::size_t kReplyBindIndex = 211;
constexpr std::size_t kReplyStatus2 = 212;

constexpr std::uint8_t kPortTypeOutputDmx = 0x80;  // outputs from Art-Net, DMX512
constexpr std::uint8_t kStatus2PortAddress15 = 0x08;
constexpr std::uint16_t kOemUnknown = 0x00FF;

void PutText(std::uint8_t* at, std::size_t room, const char* text) {
    std::memcpy(at, text, std::min(std::strlen(text), room - 1));
}

}  // namespace

ArtnetParse ParseArtnet(const std::uint8_t* data, std::size_t size, ArtDmx& dmx, ArtPoll& poll) {
    if (size < kVersion || std::memcmp(data, kId, sizeof kId) != 0) {
        return ArtnetParse::kNotArtnet;
    }
    const std::uint32_t op = ReadLittle16(data + kOpCode);
    if (op != kOpDmx && op != kOpPoll && op != kOpSync) {
        return ArtnetParse::kOther;
    }
    if (size < kVersion + 2) {
        return ArtnetParse::kTruncated;
    }
    if (ReadBig16(data + kVersion) < kArtnetMinVersion) {
        return ArtnetParse::kOldVersion;
    }
    if (op == kOpSync) {
        return size < kSyncSize ? ArtnetParse::kTruncated : ArtnetParse::kSync;
    }
    if (op == kOpPoll) {
        if (size < kPollMinimum) {
            return ArtnetParse::kTruncated;
        }
        poll.flags = data[kPollFlags];
        poll.targeted = (poll.flags & kPollFlagTargeted) != 0 && size >= kPollTargetedSize;
        poll.targetTop = poll.targeted
                             ? static_cast<std::uint16_t>(ReadBig16(data + kPollTargetTop))
                             : std::uint16_t{0};
        poll.targetBottom = poll.targeted
                                ? static_cast<std::uint16_t>(ReadBig16(data + kPollTargetBottom))
                                : std::uint16_t{0};
        return ArtnetParse::kPoll;
    }
    if (size < kDmxData) {
        return ArtnetParse::kTruncated;
    }
    const std::uint32_t length = ReadBig16(data + kDmxLength);
    // The protocol asks for an even length, but small senders send odd ones.
    if (length < 1 || length > 512) {
        return ArtnetParse::kBadLength;
    }
    if (size - kDmxData < length) {
        return ArtnetParse::kTruncated;
    }
    if (data[kDmxNet] > 0x7F) {
        return ArtnetParse::kBadAddress;
    }
    dmx.portAddress =
        static_cast<std::uint16_t>(ReadLittle16(data + kDmxSubUni));  // SubUni, then Net
    dmx.sequence = data[kDmxSequence];
    dmx.data = data + kDmxData;
    dmx.length = static_cast<std::uint16_t>(length);
    return ArtnetParse::kDmx;
}

const char* ArtnetParseName(ArtnetParse result) {
    switch (result) {
        case ArtnetParse::kDmx:
            return "dmx";
        case ArtnetParse::kPoll:
            return "poll";
        case ArtnetParse::kOther:
            return "other";
        case ArtnetParse::kNotArtnet:
            return "not_artnet";
        case ArtnetParse::kOldVersion:
            return "old_version";
        case ArtnetParse::kBadLength:
            return "bad_length";
        case ArtnetParse::kTruncated:
            return "truncated";
        case ArtnetParse::kBadAddress:
            return "bad_address";
        case ArtnetParse::kSync:
            return "sync";
    }
    return "unknown";
}

void WriteArtPollReply(std::uint8_t* out, const NodeIdentity& node, std::uint8_t bindIndex,
                       const ReplyOutput* outputs, int count, std::uint32_t replyCount) {
    std::memset(out, 0, kArtPollReplySize);
    std::memcpy(out, kId, sizeof kId);
    WriteLittle16(out + kOpCode, kOpPollReply);
    WriteBig32(out + kReplyAddress, node.address);
    WriteLittle16(out + kReplyPort, kArtnetPort);
    out[kReplyVersion] = node.versionHigh;
    out[kReplyVersion + 1] = node.versionLow;
    const std::uint16_t first = outputs[0].portAddress;
    out[kReplyNet] = static_cast<std::uint8_t>(first >> 8 & 0x7F);
    out[kReplySubNet] = static_cast<std::uint8_t>(first >> 4 & 0x0F);
    WriteBig16(out + kReplyOem, kOemUnknown);
    PutText(out + kReplyShortName, sizeof node.shortName, node.shortName);
    PutText(out + kReplyLongName, sizeof node.longName, node.longName);
    char report[64];
    std::snprintf(report, sizeof report, "#0001 [%04u] %d outputs to the lxdravik driver",
                  static_cast<unsigned>(replyCount % 10000), count);
    PutText(out + kReplyNodeReport, 64, report);
    out[kReplyPortCount + 1] = static_cast<std::uint8_t>(count);
    for (int i = 0; i < count; ++i) {
        out[kReplyPortTypes + i] = kPortTypeOutputDmx;
        out[kReplyGoodOutput + i] = outputs[i].goodOutput;
        out[kReplySwOut + i] = static_cast<std::uint8_t>(outputs[i].portAddress & 0x0F);
    }
    std::memcpy(out + kReplyMac, node.mac, sizeof node.mac);
    WriteBig32(out + kReplyBindAddress, node.address);
    out[kReplyBindIndex] = bindIndex;
    out[kReplyStatus2] = kStatus2PortAddress15;
}

int GroupPollReplies(const std::uint16_t* addresses, int count, ReplyGroup* replies) {
    int used = 0;
    for (int i = 0; i < count; ++i) {
        const int netSubNet = addresses[i] >> 4;
        int r = 0;
        while (r < used &&
               (replies[r].count == 4 || addresses[replies[r].indexes[0]] >> 4 != netSubNet)) {
            ++r;
        }
        if (r == used) {
            replies[used++].count = 0;
        }
        replies[r].indexes[replies[r].count++] = i;
    }
    return used;
}

}  // namespace lxd::bridge
