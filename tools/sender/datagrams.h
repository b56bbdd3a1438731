// Turns a frame into the datagrams that carry it: level packets, or block
// packets of up to four blocks, each block raw or run-length coded (--coding
// auto, raw and rle are BlockCoding's kShorter, kRaw and kCoded).
#pragma once

#include <cstdint>
#include <vector>

#include "host/udp.h"
#include "protocol/block_writer.h"
#include "tools/sender/levels.h"

namespace lxd::sender {

enum class PacketKind { kLevel, kBlock };

struct Counts {
    std::uint64_t levelPackets = 0;
    std::uint64_t blockPackets = 0;
    std::uint64_t rawBlocks = 0;
    std::uint64_t codedBlocks = 0;
    // Blocks sent raw under --coding rle because their code came out exactly
    // as long as their levels, which the driver would take as raw levels.
    std::uint64_t codeAsLongAsLevels = 0;
};

// Appends the datagrams for the ports of `frame` marked as sent.
void BuildDatagrams(const Frame& frame, PacketKind kind, BlockCoding coding,
                    std::vector<host::Bytes>& datagrams, Counts& counts);

}  // namespace lxd::sender
