// DecodeRunLength on arbitrary code, expected count and room: it reads only
// the source, writes only the room, and writes exactly what a plain reading
// of the code gives (whole codes, clipped at the room), nothing else.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "protocol/run_length.h"

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

struct Reference {
    std::vector<std::uint8_t> bytes;  // everything the codes decode to, unclipped
    std::uint32_t consumed = 0;
};

// The code read literally: whole codes until the total reaches the expected
// count; a code cut off by the end of the source ends decoding and writes
// nothing, its control byte counting as consumed.
Reference Decode(const std::uint8_t* source, std::uint32_t length, std::uint32_t expected) {
    Reference r;
    std::uint64_t total = 0;
    std::uint32_t read = 0;
    while (read < length) {
        const std::uint8_t control = source[read++];
        const std::uint32_t n = control & 0x7Fu;
        if (control & 0x80u) {
            if (read == length) {
                break;
            }
            r.bytes.insert(r.bytes.end(), n, source[read++]);
        } else {
            if (length - read < n) {
                break;
            }
            r.bytes.insert(r.bytes.end(), source + read, source + read + n);
            read += n;
        }
        total += n;
        if (total >= expected) {
            break;
        }
    }
    r.consumed = read;
    return r;
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_decode_run_length: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lxd::fuzz::DecodeInput in;
    if (!lxd::fuzz::SplitDecodeInput(data, size, &in)) {
        return 0;
    }
    std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[in.sourceLength]);
    std::memcpy(source.get(), in.source, in.sourceLength);
    std::unique_ptr<std::uint8_t[]> room(new std::uint8_t[in.room]);
    std::memset(room.get(), kUntouched, in.room);

    const std::uint32_t consumed =
        lxd::DecodeRunLength(source.get(), in.sourceLength, room.get(), in.expectedCount, in.room);

    const Reference ref = Decode(in.source, in.sourceLength, in.expectedCount);
    if (consumed != ref.consumed) {
        Fail("consumed count differs from the code");
    }
    const std::size_t written = std::min<std::size_t>(ref.bytes.size(), in.room);
    if (written != 0 && std::memcmp(room.get(), ref.bytes.data(), written) != 0) {
        Fail("decoded bytes differ from the code");
    }
    static const std::vector<std::uint8_t> untouched(0x10000, kUntouched);
    if (std::memcmp(room.get() + written, untouched.data(), in.room - written) != 0) {
        Fail("a byte past the decoded bytes changed");
    }
    return 0;
}
