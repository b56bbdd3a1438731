// The run-length code: a control byte with the top bit set is a run of
// (control & 0x7F) copies of the next byte; with it clear, that many literal
// bytes follow. Counts are 0..127; there is no framing.
#pragma once

#include <cstdint>

namespace lxd {

// Decodes codes from `source` into `destination` until their counts reach
// `expectedCount` (the code that reaches it is written whole) or the source
// ends. Never writes at or past destination + room, never reads at or past
// source + sourceLength; a code cut off by the end of the source writes
// nothing and ends decoding. Returns the source bytes consumed.
std::uint32_t DecodeRunLength(const std::uint8_t* source, std::uint32_t sourceLength,
                              std::uint8_t* destination, std::uint32_t expectedCount,
                              std::uint32_t room);

// Encodes `sourceLength` bytes, visited in lane order for `stride`, into at
// most `capacity` bytes of code. Returns the code's length, or -1 when it does
// not fit (the codes emitted before stay whole) or the stride is 0.
std::int32_t EncodeRunLengthStrided(const std::uint8_t* source, std::uint32_t sourceLength,
                                    std::uint8_t* output, std::uint32_t capacity,
                                    std::uint32_t stride);

// Decodes code into `destinationLength` bytes visited in lane order for
// `stride`. Returns the sum of the code counts, or -1 when the destination is
// exhausted while code remains, or the stride is 0. A code cut off by the end
// of the source writes nothing and ends decoding.
std::int32_t DecodeRunLengthStrided(const std::uint8_t* source, std::uint32_t sourceLength,
                                    std::uint8_t* destination, std::uint32_t destinationLength,
                                    std::uint32_t stride);

// The longest code that EncodeRunLengthStrided writes for `length` bytes.
constexpr std::uint32_t MaxEncodedLength(std::uint32_t length) {
    return length + (length + 126) / 127;
}

}  // namespace lxd
