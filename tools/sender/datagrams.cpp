#include "tools/sender/datagrams.h"

#include "protocol/level_writer.h"

namespace lxd::sender {
namespace {

std::uint32_t StoreAddress(int port) {
    return static_cast<std::uint32_t>(port) * kChannelsPerPort + 1;
}

void BuildLevelPackets(const Frame& frame, std::vector<host::Bytes>& datagrams, Counts& counts) {
    // Two neighbouring ports travel in one packet of 1,024 levels, which lie
    // side by side in the frame as they do in the store.
    LevelWriter writer;
    for (int port = 0; port < kNumPorts; ++port) {
        if (!frame.sent[port]) {
            continue;
        }
        const bool pair = port + 1 < kNumPorts && frame.sent[port + 1];
        const auto* levels = reinterpret_cast<const std::uint8_t*>(frame.levels);
        writer.Set(StoreAddress(port), levels + port * kChannelsPerPort,
                   pair ? 2 * kChannelsPerPort : kChannelsPerPort);
        port += pair ? 1 : 0;
        datagrams.emplace_back(writer.Data(), writer.Data() + writer.Size());
        ++counts.levelPackets;
    }
}

void BuildBlockPackets(const Frame& frame, BlockCoding coding, std::vector<host::Bytes>& datagrams,
                       Counts& counts) {
    BlockWriter writer;
    const auto flush = [&] {
        if (!writer.Empty()) {
            datagrams.emplace_back(writer.Data(), writer.Data() + writer.Size());
            ++counts.blockPackets;
            writer.Reset();
        }
    };
    for (int port = 0; port < kNumPorts; ++port) {
        if (!frame.sent[port]) {
            continue;
        }
        const auto start = static_cast<std::uint16_t>(StoreAddress(port));
        // A block that does not fit goes into the next packet.
        if (!writer.Add(start, frame.levels[port], kChannelsPerPort, coding)) {
            flush();
            writer.Add(start, frame.levels[port], kChannelsPerPort, coding);
        }
        ++(writer.LastCoded() ? counts.codedBlocks : counts.rawBlocks);
        if (coding == BlockCoding::kCoded && !writer.LastCoded()) {
            ++counts.codeAsLongAsLevels;
        }
    }
    flush();
}

}  // namespace

void BuildDatagrams(const Frame& frame, PacketKind kind, BlockCoding coding,
                    std::vector<host::Bytes>& datagrams, Counts& counts) {
    if (kind == PacketKind::kLevel) {
        BuildLevelPackets(frame, datagrams, counts);
    } else {
        BuildBlockPackets(frame, coding, datagrams, counts);
    }
}

}  // namespace lxd::sender
