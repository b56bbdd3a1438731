#include "tools/sender/datagrams.h"

#include <cstring>

namespace lxd::sender {
namespace {

std::uint32_t StoreAddress(int port) {
    return static_cast<std::uint32_t>(port) * kChannels + 1;
}

void BuildLevelPackets(const Frame& frame, std::vector<host::Bytes>& datagrams, Counts& counts) {
    // Two neighbouring ports travel in one packet of 1,024 levels.
    for (int port = 0; port < kPorts; ++port) {
        if (!frame.sent[port]) {
            continue;
        }
        host::LevelPacket packet;
        packet.start = StoreAddress(port);
        const bool pair = port + 1 < kPorts && frame.sent[port + 1];
        packet.levels.resize(pair ? 2 * kChannels : kChannels);
        std::memcpy(packet.levels.data(), frame.levels[port], kChannels);
        if (pair) {
            std::memcpy(packet.levels.data() + kChannels, frame.levels[port + 1], kChannels);
            ++port;
        }
        datagrams.push_back(packet.Build());
        ++counts.levelPackets;
    }
}

host::Block MakeBlock(const std::uint8_t* levels, int port, Coding coding, Counts& counts) {
    host::Block block;
    block.start = static_cast<std::uint16_t>(StoreAddress(port));
    block.count = kChannels;
    const std::vector<std::uint8_t> raw(levels, levels + kChannels);
    host::Bytes coded;
    if (coding != Coding::kRaw) {
        coded = host::CodedBlockData(raw);
    }
    // An encoded length equal to the count means raw levels to the driver.
    const bool codedUsable = !coded.empty() && coded.size() != raw.size();
    const bool useCoded = codedUsable && (coding == Coding::kRle || coded.size() < raw.size());
    if (coding == Coding::kRle && !codedUsable) {
        ++counts.codeAsLongAsLevels;
    }
    if (useCoded) {
        block.data = std::move(coded);
        ++counts.codedBlocks;
    } else {
        block.data = host::UncodedBlockData(raw);
        ++counts.rawBlocks;
    }
    return block;
}

void BuildBlockPackets(const Frame& frame, Coding coding, std::vector<host::Bytes>& datagrams,
                       Counts& counts) {
    host::BlockPacket packet;
    std::size_t dataSize = 0;
    const auto flush = [&] {
        if (!packet.blocks.empty()) {
            datagrams.push_back(packet.Build());
            ++counts.blockPackets;
            packet.blocks.clear();
            dataSize = 0;
        }
    };
    for (int port = 0; port < kPorts; ++port) {
        if (!frame.sent[port]) {
            continue;
        }
        host::Block block = MakeBlock(frame.levels[port], port, coding, counts);
        if (packet.blocks.size() == 4 || dataSize + block.data.size() > kMaxBlockData) {
            flush();
        }
        dataSize += block.data.size();
        packet.blocks.push_back(std::move(block));
    }
    flush();
}

}  // namespace

void BuildDatagrams(const Frame& frame, PacketKind kind, Coding coding,
                    std::vector<host::Bytes>& datagrams, Counts& counts) {
    if (kind == PacketKind::kLevel) {
        BuildLevelPackets(frame, datagrams, counts);
    } else {
        BuildBlockPackets(frame, coding, datagrams, counts);
    }
}

}  // namespace lxd::sender
