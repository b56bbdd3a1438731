// How the fuzz targets split one input into arguments, shared with the seed
// generator so that its seeds mean what the targets read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/pack.h"

namespace lxd::fuzz {

// DecodeRunLength: expected count (4 bytes), room (2 bytes), then the code.
inline constexpr std::size_t kDecodeHeader = 6;
struct DecodeInput {
    std::uint32_t expectedCount;
    std::uint32_t room;
    const std::uint8_t* source;
    std::uint32_t sourceLength;
};
inline bool SplitDecodeInput(const std::uint8_t* data, std::size_t size, DecodeInput* in) {
    if (size < kDecodeHeader) {
        return false;
    }
    in->expectedCount = ReadLittle32(data);
    in->room = ReadLittle16(data + 4);
    in->source = data + kDecodeHeader;
    in->sourceLength = static_cast<std::uint32_t>(size - kDecodeHeader);
    return true;
}

// The strided pair: a stride selector, a destination length (2 bytes) for
// decoding the payload as code, then the payload. Selectors 0..239 give the
// strides 1..16; the rest give a stride of 0, one larger than any payload,
// or a wide one read from the destination length.
inline constexpr std::size_t kStridedHeader = 3;
struct StridedInput {
    std::uint32_t stride;
    std::uint32_t destinationLength;
    const std::uint8_t* payload;
    std::uint32_t payloadLength;
};
inline bool SplitStridedInput(const std::uint8_t* data, std::size_t size, StridedInput* in) {
    if (size < kStridedHeader) {
        return false;
    }
    const std::uint8_t selector = data[0];
    in->destinationLength = ReadLittle16(data + 1);
    if (selector < 240) {
        in->stride = 1u + selector % 16u;
    } else if (selector < 244) {
        in->stride = 0;
    } else if (selector < 250) {
        in->stride = 0xFFFFFFFFu;
    } else {
        in->stride = 17u + in->destinationLength;
    }
    in->payload = data + kStridedHeader;
    in->payloadLength = static_cast<std::uint32_t>(size - kStridedHeader);
    return true;
}

}  // namespace lxd::fuzz

namespace lxd::fuzz {

// The bridge targets: a byte of time that passes before the batch (in steps
// of 20 ms for sACN, 100 ms for Art-Net, so that timeouts happen), a byte
// choosing one of four Art-Net source addresses, then the datagrams of one
// batch, as one receive call hands them over: cut at each kBatchCut.
inline constexpr std::size_t kBridgeHeader = 2;
inline constexpr std::uint8_t kBatchCut[4] = {'C', 'U', 'T', 0xC7};
struct BridgeInput {
    std::uint32_t advance;  // steps of time
    std::uint32_t source;   // 0..3
    const std::uint8_t* datagram;
    std::size_t size;
};
inline bool SplitBridgeInput(const std::uint8_t* data, std::size_t size, BridgeInput* in) {
    if (size < kBridgeHeader) {
        return false;
    }
    in->advance = data[0];
    in->source = data[1] & 3u;
    in->datagram = data + kBridgeHeader;
    in->size = size - kBridgeHeader;
    return true;
}

}  // namespace lxd::fuzz
