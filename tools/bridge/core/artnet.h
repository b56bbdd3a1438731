// Art-Net: ArtDmx, ArtSync and ArtPoll as received, and the ArtPollReply that
// makes the bridge show up as a node on a console.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd::bridge {

inline constexpr std::uint16_t kArtnetPort = 6454;
inline constexpr std::uint16_t kArtnetMinVersion = 14;
inline constexpr std::size_t kArtPollReplySize = 239;
inline constexpr std::uint32_t kArtnetLastAddress = 32767;  // 15 bits: net, sub-net, universe

enum class ArtnetParse : std::uint8_t {
    kDmx,         // see ArtDmx
    kPoll,        // see ArtPoll
    kOther,       // another Art-Net packet; not used here
    kNotArtnet,   // no "Art-Net" identifier, or too short for one
    kOldVersion,  // protocol version below 14
    kBadLength,   // ArtDmx data length 0 or above 512
    kTruncated,   // fewer bytes than the packet's fields or length need
    kBadAddress,  // a net above 127
    kSync,        // ArtSync: the ArtDmx held for it is to be output now
};
inline constexpr int kArtnetParseResults = 9;

struct ArtDmx {
    std::uint16_t portAddress;  // 15 bits: net, sub-net, universe
    std::uint8_t sequence;
    const std::uint8_t* data;
    std::uint16_t length;  // 1..512
};

struct ArtPoll {
    std::uint8_t flags;
    bool targeted;  // answer only for port-addresses from bottom to top
    std::uint16_t targetBottom;
    std::uint16_t targetTop;
};

ArtnetParse ParseArtnet(const std::uint8_t* data, std::size_t size, ArtDmx& dmx, ArtPoll& poll);

const char* ArtnetParseName(ArtnetParse result);

// What a reply says about the node itself.
struct NodeIdentity {
    std::uint32_t address = 0;  // IPv4, host order
    std::uint8_t versionHigh = 0;
    std::uint8_t versionLow = 0;
    std::uint8_t mac[6] = {};  // of the interface the reply describes; zero when unknown
    char shortName[18] = "lxdravik-bridge";
    char longName[64] = "lxdravik-bridge: sACN and Art-Net into the lxdravik driver";
};

// One output of a reply: its port-address and GoodOutput status bits.
struct ReplyOutput {
    std::uint16_t portAddress;
    std::uint8_t goodOutput;
};
inline constexpr std::uint8_t kGoodOutputData = 0x80;     // data is being output
inline constexpr std::uint8_t kGoodOutputMerging = 0x08;  // two sources merged

// Writes one ArtPollReply of kArtPollReplySize bytes announcing `count` (1..4)
// outputs that share one net and sub-net (those of outputs[0]).
// `replyCount` goes into the node report.
void WriteArtPollReply(std::uint8_t* out, const NodeIdentity& node, std::uint8_t bindIndex,
                       const ReplyOutput* outputs, int count, std::uint32_t replyCount);

// Splits `count` port-addresses into replies: addresses sharing net and
// sub-net go together, at most four to a reply, in the order first listed.
// `replies[r]` gets the indexes into `addresses`; returns the number of
// replies (at most count).
struct ReplyGroup {
    int indexes[4];
    int count;
};
int GroupPollReplies(const std::uint16_t* addresses, int count, ReplyGroup* replies);

}  // namespace lxd::bridge
