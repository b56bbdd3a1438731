// The strided encoder and decoder: any payload and stride round-trip through
// an encoding sized by MaxEncodedLength, the encoding needs exactly its own
// length of capacity, stride 1 code is block code too, and decoding arbitrary
// code never writes past an exact-size destination.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_inputs.h"
#include "protocol/run_length.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_strided: %s\n", what);
    std::abort();
}

std::unique_ptr<std::uint8_t[]> Copy(const std::uint8_t* bytes, std::size_t n) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[n]);
    if (n != 0) {
        std::memcpy(copy.get(), bytes, n);
    }
    return copy;
}

void RoundTrip(const std::uint8_t* payload, std::uint32_t n, std::uint32_t stride) {
    const auto input = Copy(payload, n);
    const std::uint32_t capacity = lxd::MaxEncodedLength(n);
    std::unique_ptr<std::uint8_t[]> code(new std::uint8_t[capacity]);
    const std::int32_t length =
        lxd::EncodeRunLengthStrided(input.get(), n, code.get(), capacity, stride);
    if (stride == 0) {
        if (length != -1) {
            Fail("stride 0 was accepted by the encoder");
        }
        return;
    }
    if (length < 0 || static_cast<std::uint32_t>(length) > capacity) {
        Fail("encoding did not fit MaxEncodedLength");
    }
    const auto codeLength = static_cast<std::uint32_t>(length);
    if (codeLength > 0) {
        std::unique_ptr<std::uint8_t[]> tight(new std::uint8_t[codeLength - 1]);
        if (lxd::EncodeRunLengthStrided(input.get(), n, tight.get(), codeLength - 1, stride) !=
            -1) {
            Fail("encoding fitted a capacity below its own length");
        }
    }
    const auto exactCode = Copy(code.get(), codeLength);
    std::unique_ptr<std::uint8_t[]> back(new std::uint8_t[n]);
    const std::int32_t decoded =
        lxd::DecodeRunLengthStrided(exactCode.get(), codeLength, back.get(), n, stride);
    if (decoded != static_cast<std::int32_t>(n) ||
        (n != 0 && std::memcmp(back.get(), payload, n) != 0)) {
        Fail("strided decoding did not give the payload back");
    }
    if (stride == 1 && n != 0) {
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n]);
        if (lxd::DecodeRunLength(exactCode.get(), codeLength, block.get(), n, n) != codeLength ||
            std::memcmp(block.get(), payload, n) != 0) {
            Fail("stride 1 code is not block code for the same bytes");
        }
    }
}

void DecodeArbitrary(const std::uint8_t* payload, std::uint32_t n, std::uint32_t stride,
                     std::uint32_t destinationLength) {
    const auto source = Copy(payload, n);
    std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[destinationLength]);
    const std::int32_t result =
        lxd::DecodeRunLengthStrided(source.get(), n, destination.get(), destinationLength, stride);
    if (stride == 0 && result != -1) {
        Fail("stride 0 was accepted by the decoder");
    }
    if (result < -1 || (result >= 0 && static_cast<std::uint32_t>(result) > destinationLength)) {
        Fail("decoder claims more bytes than the destination holds");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lxd::fuzz::StridedInput in;
    if (!lxd::fuzz::SplitStridedInput(data, size, &in)) {
        return 0;
    }
    RoundTrip(in.payload, in.payloadLength, in.stride);
    DecodeArbitrary(in.payload, in.payloadLength, in.stride, in.destinationLength % 4096);
    return 0;
}
