#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/run_length.h"

namespace lxd {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;

// "41 42" -> {0x41, 0x42}; "N*41" -> N copies of 0x41; "N+" -> N bytes 0, 1, ...
// "--" stands for a byte left untouched (kUntouched).
Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const auto star = word.find('*');
        if (word == "--") {
            out.push_back(kUntouched);
        } else if (star != std::string::npos) {
            const int n = std::stoi(word.substr(0, star));
            const auto value =
                static_cast<std::uint8_t>(std::stoul(word.substr(star + 1), nullptr, 16));
            out.insert(out.end(), static_cast<std::size_t>(n), value);
        } else if (word.back() == '+') {
            const int n = std::stoi(word.substr(0, word.size() - 1));
            for (int i = 0; i < n; ++i) {
                out.push_back(static_cast<std::uint8_t>(i));
            }
        } else {
            out.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
        }
    }
    return out;
}

// A heap block of exactly `bytes` bytes, so that AddressSanitizer reports any
// access past its end.
struct Exact {
    explicit Exact(const Bytes& contents)
        : size(contents.size()), data(new std::uint8_t[contents.size()]) {
        std::copy(contents.begin(), contents.end(), data.get());
    }
    Exact(std::size_t bytes, std::uint8_t fill) : size(bytes), data(new std::uint8_t[bytes]) {
        std::memset(data.get(), fill, size);
    }
    Bytes Contents() const { return Bytes(data.get(), data.get() + size); }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(size); }

    std::size_t size;
    std::unique_ptr<std::uint8_t[]> data;
};

// --- DecodeRunLength ---------------------------------------------------------

struct DecodeCase {
    const char* source;
    std::uint32_t expected;
    const char* destination;  // afterwards; the buffer is exactly this long
    std::uint32_t result;
};

// Decodes each case into a destination exactly as large as its expected
// contents (so ASan sees any write past it) and checks result and contents.
template <std::size_t N>
void ExpectDecodes(const DecodeCase (&cases)[N]) {
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.source);
        const Exact source(Hex(c.source));
        Exact destination(Hex(c.destination).size(), kUntouched);
        EXPECT_EQ(DecodeRunLength(source.data.get(), source.Size(), destination.data.get(),
                                  c.expected, destination.Size()),
                  c.result);
        EXPECT_EQ(destination.Contents(), Hex(c.destination));
    }
}

TEST(DecodeRunLength, WorkedExamplesAndEdges) {
    const DecodeCase cases[] = {
        {"85 00 03 0A 0B 0C", 8, "00 00 00 00 00 0A 0B 0C --", 6},
        {"85 00 03 0A 0B 0C 84 FF", 8, "00 00 00 00 00 0A 0B 0C -- --", 6},
        {"83 07", 5, "07 07 07 -- --", 2},
        {"85 07", 3, "07 07 07 07 07 --", 2},
        {"80 41 00 82 09", 2, "09 09 --", 5},
        {"FF 2A", 127, "127*2A --", 2},
        {"7F 127+", 127, "127+ --", 128},
        {"", 5, "-- --", 0},
        {"", 0, "--", 0},
        // An expected count of 0 decodes exactly the first code.
        {"82 05 83 06", 0, "05 05 -- --", 2},
        {"03 01 02 03 82 09", 0, "01 02 03 --", 4},
        // Zero-count codes anywhere, then decoding goes on.
        {"00 80 33 02 0A 0B 80 44 81 0C", 3, "0A 0B 0C --", 10},
        // Codes that fall short leave the rest alone.
        {"02 0A 0B 81 0C", 6, "0A 0B 0C -- -- --", 5},
        // A cut-off last code writes nothing and ends decoding.
        {"83 07 85", 10, "07 07 07 -- --", 3},
        {"82 07 04 01 02 03", 10, "07 07 -- -- -- --", 3},
        {"05", 10, "-- --", 1},
    };
    ExpectDecodes(cases);
}

// The room ends the buffer: a code crossing it is cut off there, later codes
// are still consumed, and nothing past it is written (checked by ASan too).
TEST(DecodeRunLength, NeverWritesPastTheRoom) {
    const DecodeCase cases[] = {
        {"85 07", 3, "07 07 07 07", 2},
        {"85 07", 3, "07 07 07", 2},
        {"05 01 02 03 04 05", 2, "01 02 03", 6},
        {"82 01 82 02 82 03", 6, "01 01 02", 6},
        {"82 01 03 0A 0B 0C 81 02", 6, "01 01 0A 0B", 8},
        {"FF 2A", 127, "100*2A", 2},
        {"85 07 81 08", 1, "", 2},
    };
    ExpectDecodes(cases);
}

// Every count of both kinds of code, against every room up to past its end:
// exactly the bytes in front of the room change.
TEST(DecodeRunLength, EveryCountAndRoomWritesExactlyItsBytes) {
    for (std::uint32_t n = 0; n <= 127; ++n) {
        Bytes literal{static_cast<std::uint8_t>(n)};  // n bytes 1, 2, ... follow
        for (std::uint32_t i = 0; i < n; ++i) {
            literal.push_back(static_cast<std::uint8_t>(i + 1));
        }
        const Bytes run{static_cast<std::uint8_t>(0x80 | n), 0x42};
        for (std::uint32_t room = 0; room <= n + 2; ++room) {
            for (const Bytes* code : {static_cast<const Bytes*>(&literal), &run}) {
                SCOPED_TRACE("count " + std::to_string(n) + ", room " + std::to_string(room) +
                             (code == &run ? ", run" : ", literal"));
                Bytes buffer(3 + room + 32, kUntouched);
                EXPECT_EQ(DecodeRunLength(code->data(), static_cast<std::uint32_t>(code->size()),
                                          buffer.data() + 3, 1, room),
                          code->size());
                Bytes want(buffer.size(), kUntouched);
                for (std::uint32_t i = 0; i < std::min(n, room); ++i) {
                    want[3 + i] = code == &run ? 0x42 : static_cast<std::uint8_t>(i + 1);
                }
                ASSERT_EQ(buffer, want);
            }
        }
    }
}

// The source sits at the very end of its heap block: a cut-off code must not
// read the byte behind it.
TEST(RunLengthDecoders, CutOffCodesReadNothingPastTheSource) {
    for (const char* code : {"85", "02 0A 0B 83", "7F 126*01", "83 07 04 01 02 03"}) {
        SCOPED_TRACE(code);
        const Exact source(Hex(code));
        Exact destination(300, kUntouched);
        EXPECT_LE(DecodeRunLength(source.data.get(), source.Size(), destination.data.get(), 300,
                                  destination.Size()),
                  source.Size());
        const std::int32_t total = DecodeRunLengthStrided(source.data.get(), source.Size(),
                                                          destination.data.get(), 300, 1);
        EXPECT_GE(total, 0);
        EXPECT_LT(total, 300);
    }
}

// --- EncodeRunLengthStrided ---------------------------------------------------

struct EncodeCase {
    const char* input;
    std::uint32_t stride;
    const char* output;
};

TEST(EncodeRunLengthStrided, ExamplesEncodeExactlyAndDecodeBack) {
    const EncodeCase cases[] = {
        {"", 1, ""},
        {"41", 1, "01 41"},
        {"41 41", 1, "02 41 41"},
        {"41 41 41", 1, "83 41"},
        {"41 41 42", 1, "03 41 41 42"},
        {"41 41 41 41 42", 1, "84 41 01 42"},
        {"41 41 42 42 42", 1, "02 41 41 83 42"},
        {"41 42 42 42 42 42 43", 1, "01 41 85 42 01 43"},
        {"00 00 00 00 00 01 02 03", 1, "85 00 03 01 02 03"},
        {"127*41", 1, "FF 41"},
        {"128*41", 1, "FF 41 01 41"},
        {"129*41 42", 1, "FF 41 03 41 41 42"},
        {"130*41", 1, "FF 41 83 41"},
        {"41 42 127*43", 1, "02 41 42 FF 43"},
        {"127+", 1, "7F 127+"},
        {"128+", 1, "7F 127+ 01 7F"},
        {"00 01 00 01 00 01 00 01", 1, "08 00 01 00 01 00 01 00 01"},
        {"00 01 00 01 00 01 00 01", 2, "84 00 84 01"},
        {"10 20 30 10 20 30 10 20", 3, "83 10 83 20 02 30 30"},
        {"8*00", 4, "88 00"},
        // A stride at or above the length is plain order.
        {"01 02 02 02 03", 5, "01 01 83 02 01 03"},
        {"01 02 02 02 03", 9, "01 01 83 02 01 03"},
        // 126 literals, then a pair that spills into a second literal code.
        {"126+ 7E 7E", 1, "7F 126+ 7E 01 7E"},
        // A run of 127 reached with literals pending goes out with them.
        {"01 02 127*05 03", 1, "02 01 02 FF 05 01 03"},
        // Runs that end inside, at and past eight bytes, and over two full ones.
        {"9*41 42", 1, "89 41 01 42"},
        {"41 41 16*42 41", 1, "02 41 41 90 42 01 41"},
        {"255*41", 1, "FF 41 FF 41 01 41"},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " / stride " + std::to_string(c.stride));
        const Exact input(Hex(c.input));
        const Bytes want = Hex(c.output);
        const auto length = static_cast<std::uint32_t>(want.size());

        // Exact capacity succeeds; one byte less fails.
        Exact output(length, kUntouched);
        ASSERT_EQ(EncodeRunLengthStrided(input.data.get(), input.Size(), output.data.get(), length,
                                         c.stride),
                  static_cast<std::int32_t>(length));
        EXPECT_EQ(output.Contents(), want);
        if (length > 0) {
            Exact shorter(length - 1, kUntouched);
            EXPECT_EQ(EncodeRunLengthStrided(input.data.get(), input.Size(), shorter.data.get(),
                                             length - 1, c.stride),
                      -1);
        }

        Exact back(input.size, kUntouched);
        EXPECT_EQ(DecodeRunLengthStrided(output.data.get(), length, back.data.get(), input.Size(),
                                         c.stride),
                  static_cast<std::int32_t>(input.size));
        EXPECT_EQ(back.Contents(), input.Contents());
    }
}

struct CapacityCase {
    const char* input;
    std::uint32_t capacity;
    std::int32_t result;
    const char* written;  // the output's contents afterwards
};

// Each emission is tested whole before any of its bytes is written.
TEST(EncodeRunLengthStrided, CapacityStopsBeforeAWholeEmission) {
    const CapacityCase cases[] = {
        {"00 00 00 00 00 01 02 03", 0, -1, ""},
        {"00 00 00 00 00 01 02 03", 1, -1, "--"},
        {"00 00 00 00 00 01 02 03", 2, -1, "85 00"},
        {"00 00 00 00 00 01 02 03", 5, -1, "85 00 -- -- --"},
        {"00 00 00 00 00 01 02 03", 6, 6, "85 00 03 01 02 03"},
        {"00 00 00 00 00 01 02 03", 9, 6, "85 00 03 01 02 03 -- -- --"},
        {"41 42 127*43", 4, -1, "-- -- -- --"},
        {"41 42 127*43", 5, 5, "02 41 42 FF 43"},
        {"41 42 43 43 43 44", 4, -1, "-- -- -- --"},
        {"41 42 43 43 43 44", 5, -1, "02 41 42 83 43"},
        {"41 42 43 43 43 44", 6, -1, "02 41 42 83 43 --"},
        {"41 42 43 43 43 44", 7, 7, "02 41 42 83 43 01 44"},
        // After the last byte, literal and run are separate emissions.
        {"41 42 43 43 43", 3, -1, "02 41 42"},
        {"41 42 43 43 43", 4, -1, "02 41 42 --"},
        {"127+", 127, -1, "127*EE"},
        {"128+", 128, -1, "7F 127+"},
        {"", 0, 0, ""},
        {"", 3, 0, "-- -- --"},
    };
    for (const CapacityCase& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " / capacity " + std::to_string(c.capacity));
        const Exact input(Hex(c.input));
        Exact output(c.capacity, kUntouched);
        EXPECT_EQ(EncodeRunLengthStrided(input.data.get(), input.Size(), output.data.get(),
                                         c.capacity, 1),
                  c.result);
        EXPECT_EQ(output.Contents(), Hex(c.written));
    }
}

// --- DecodeRunLengthStrided ---------------------------------------------------

struct StridedDecodeCase {
    const char* source;
    std::uint32_t stride;
    const char* destination;  // afterwards; its length is the destination length
    std::int32_t result;
};

TEST(DecodeRunLengthStrided, ExamplesAndExhaustion) {
    const StridedDecodeCase cases[] = {
        {"84 00 84 01", 2, "00 01 00 01 00 01 00 01", 8},
        {"83 10 83 20 02 30 30", 3, "10 20 30 10 20 30 10 20", 8},
        {"06 01 02 03 04 05 06", 2, "01 04 02 05 03 06", 6},
        {"85 00 03 01 02 03", 2, "00 00 00 01 00 02 00 03", 8},
        {"84 41", 1, "41 41 41 41", 4},
        {"83 41", 1, "41 41 41 --", 3},
        {"85 41", 1, "41 41 41 41", -1},
        {"84 41 00", 1, "41 41 41 41", -1},
        {"84 41 80 07", 1, "41 41 41 41", -1},
        {"80 41 00 02 41 42 81 41", 1, "41 42 41 -- -- -- -- --", 3},
        {"84 41", 1, "", -1},
        {"", 1, "", 0},
        {"", 3, "-- --", 0},
        // Lanes past the length are never entered.
        {"82 41", 5, "41 41", 2},
        {"83 41", 5, "41 41", -1},
        {"03 01 02 03", 4, "01 02", -1},
        // A short second lane: n = 5, stride 3 gives 0 3 1 4 2.
        {"05 0A 0B 0C 0D 0E", 3, "0A 0C 0E 0B 0D", 5},
        // Codes that fall short leave the rest of every lane alone.
        {"83 07", 2, "07 -- 07 -- 07 --", 3},
        // A cut-off code writes nothing and ends decoding.
        {"81 07 03 01 02", 2, "07 -- -- --", 1},
        {"81 07 81", 2, "07 -- -- --", 1},
    };
    for (const StridedDecodeCase& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " / stride " + std::to_string(c.stride));
        const Exact source(Hex(c.source));
        Exact destination(Hex(c.destination).size(), kUntouched);
        EXPECT_EQ(DecodeRunLengthStrided(source.data.get(), source.Size(), destination.data.get(),
                                         destination.Size(), c.stride),
                  c.result);
        EXPECT_EQ(destination.Contents(), Hex(c.destination));
    }
}

TEST(RunLengthStrided, StrideZeroIsRejectedWithoutWriting) {
    const Bytes input = Hex("41 42 43");
    Bytes output(16, kUntouched);
    EXPECT_EQ(EncodeRunLengthStrided(input.data(), 3, output.data(), 16, 0), -1);
    EXPECT_EQ(output, Bytes(16, kUntouched));
    const Bytes code = Hex("83 41");
    EXPECT_EQ(DecodeRunLengthStrided(code.data(), 2, output.data(), 16, 0), -1);
    EXPECT_EQ(output, Bytes(16, kUntouched));
}

// --- Round trips ---------------------------------------------------------------

// Buffers of runs (short and long) and noise, as level data tends to be.
Bytes RandomLevels(std::mt19937& random, std::size_t size) {
    Bytes out;
    out.reserve(size);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> small(0, 3);
    while (out.size() < size) {
        const std::size_t left = size - out.size();
        switch (kind(random)) {
            case 0: {  // long run, often past 127
                const auto n = std::uniform_int_distribution<std::size_t>(1, 300)(random);
                out.insert(out.end(), std::min(n, left), static_cast<std::uint8_t>(byte(random)));
                break;
            }
            case 1: {  // short run of 1..4
                const auto n = std::uniform_int_distribution<std::size_t>(1, 4)(random);
                out.insert(out.end(), std::min(n, left), static_cast<std::uint8_t>(small(random)));
                break;
            }
            default:  // noise
                out.push_back(static_cast<std::uint8_t>(byte(random)));
                break;
        }
    }
    return out;
}

TEST(RunLengthRoundTrip, RandomBuffersSurviveEveryStride) {
    std::mt19937 random(20250501);
    std::uniform_int_distribution<std::size_t> sizes(0, 2000);
    std::uniform_int_distribution<std::uint32_t> strides(1, 9);
    for (int iteration = 0; iteration < 600; ++iteration) {
        const std::size_t size =
            iteration < 10 ? static_cast<std::size_t>(iteration) : sizes(random);
        const std::uint32_t stride = strides(random);
        SCOPED_TRACE("iteration " + std::to_string(iteration) + ", size " + std::to_string(size) +
                     ", stride " + std::to_string(stride));
        const Exact input(RandomLevels(random, size));
        const std::uint32_t n = input.Size();

        Exact code(MaxEncodedLength(n), kUntouched);
        const std::int32_t length =
            EncodeRunLengthStrided(input.data.get(), n, code.data.get(), code.Size(), stride);
        ASSERT_GE(length, 0);
        const auto codeLength = static_cast<std::uint32_t>(length);
        if (codeLength > 0) {
            Exact shorter(codeLength - 1, kUntouched);
            EXPECT_EQ(EncodeRunLengthStrided(input.data.get(), n, shorter.data.get(),
                                             codeLength - 1, stride),
                      -1);
        }

        const Exact exactCode(Bytes(code.data.get(), code.data.get() + codeLength));
        Exact back(n, kUntouched);
        ASSERT_EQ(
            DecodeRunLengthStrided(exactCode.data.get(), codeLength, back.data.get(), n, stride),
            static_cast<std::int32_t>(n));
        ASSERT_EQ(back.Contents(), input.Contents());

        if (stride == 1) {
            Exact block(n, kUntouched);
            ASSERT_EQ(DecodeRunLength(exactCode.data.get(), codeLength, block.data.get(), n, n),
                      codeLength);
            ASSERT_EQ(block.Contents(), input.Contents());
        }
    }
}

}  // namespace
}  // namespace lxd
