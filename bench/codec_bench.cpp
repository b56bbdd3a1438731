// The run-length codec on one 512-level block: DecodeRunLength against memcpy
// of 512 bytes and against a plain byte-loop decoder, and the strided encoder
// with its compression ratio. Every loop counts its heap allocations.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/min_statistic.h"
#include "protocol/run_length.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kBlock = 512;

// 512 levels with no three equal in a row: the code is all literals.
Bytes LiteralLevels() {
    std::mt19937 random(1);
    Bytes out(kBlock);
    for (std::uint32_t i = 0; i < kBlock; ++i) {
        do {
            out[i] = static_cast<std::uint8_t>(random());
        } while (i > 0 && out[i] == out[i - 1]);
    }
    return out;
}

// Runs of 127 equal levels.
Bytes LongRunLevels() {
    Bytes out(kBlock);
    for (std::uint32_t i = 0; i < kBlock; ++i) {
        out[i] = static_cast<std::uint8_t>(0x40 + i / 127);
    }
    return out;
}

// A rig mid-fade: fixtures of a few channels whose levels change slowly from
// one channel to the next, between stretches of unused channels at 0.
Bytes FadeLevels() {
    std::mt19937 random(7);
    Bytes out;
    while (out.size() < kBlock) {
        out.insert(out.end(), 3 + random() % 30, 0);
        const std::uint32_t fixture = 6 + random() % 40;
        int level = static_cast<int>(random() % 200) + 20;
        for (std::uint32_t k = 0; k < fixture; ++k) {
            out.push_back(static_cast<std::uint8_t>(level));
            level += static_cast<int>(random() % 5) - 2;  // drifts by -2..+2
            level = level < 1 ? 1 : (level > 255 ? 255 : level);
        }
    }
    out.resize(kBlock);
    return out;
}

struct Input {
    const char* name;
    Bytes levels;
    Bytes code;  // stride 1
};

std::vector<Input>& Inputs() {
    static std::vector<Input> inputs = [] {
        std::vector<Input> all{{"literal", LiteralLevels(), {}},
                               {"runs127", LongRunLevels(), {}},
                               {"fades", FadeLevels(), {}}};
        for (Input& in : all) {
            in.code.resize(lxd::MaxEncodedLength(kBlock));
            const std::int32_t n =
                lxd::EncodeRunLengthStrided(in.levels.data(), kBlock, in.code.data(),
                                            static_cast<std::uint32_t>(in.code.size()), 1);
            in.code.resize(static_cast<std::size_t>(n));
        }
        return all;
    }();
    return inputs;
}

// The same decoding rule as DecodeRunLength, written as the obvious byte loop.
__attribute__((noinline)) std::uint32_t ByteLoopDecode(const std::uint8_t* source,
                                                       std::uint32_t length,
                                                       std::uint8_t* destination,
                                                       std::uint32_t expected, std::uint32_t room) {
    std::uint32_t read = 0;
    std::uint32_t written = 0;
    while (read < length) {
        const std::uint8_t control = source[read++];
        const std::uint32_t n = control & 0x7F;
        if (control & 0x80) {
            if (read == length) {
                break;
            }
            const std::uint8_t value = source[read++];
            for (std::uint32_t i = 0; i < n; ++i) {
                if (written + i < room) {
                    destination[written + i] = value;
                }
            }
        } else {
            if (length - read < n) {
                break;
            }
            for (std::uint32_t i = 0; i < n; ++i) {
                if (written + i < room) {
                    destination[written + i] = source[read + i];
                }
            }
            read += n;
        }
        written += n;
        if (written >= expected) {
            break;
        }
    }
    return read;
}

alignas(64) std::uint8_t g_destination[kBlock + 128];
alignas(64) std::uint8_t g_source[kBlock];

// Runs `operation` a thousand times outside the timed loop and records the
// heap allocations made as a counter and for main's verdict.
template <typename Operation>
void CheckNoAllocation(benchmark::State& state, Operation operation) {
    const std::uint64_t before = lxd::bench::Allocations();
    for (int i = 0; i < 1000; ++i) {
        operation();
    }
    const std::uint64_t made = lxd::bench::Allocations() - before;
    lxd::bench::AddHotPathAllocations(made);
    state.counters["allocs"] = static_cast<double>(made);
}

void Memcpy512(benchmark::State& state) {
    std::memset(g_source, 0x5A, sizeof g_source);
    for (auto _ : state) {
        // The size is hidden from the compiler, so that it calls the library
        // copy instead of expanding a fixed-size one inline.
        std::size_t size = kBlock;
        benchmark::DoNotOptimize(size);
        std::memcpy(g_destination, g_source, size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

// The same copy with its size known to the compiler: what a fixed-size
// memcpy in the driver's own code turns into (g++ emits `rep movsq` here).
void Memcpy512Fixed(benchmark::State& state) {
    std::memset(g_source, 0x5A, sizeof g_source);
    for (auto _ : state) {
        std::memcpy(g_destination, g_source, kBlock);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void Decode(benchmark::State& state, const Input* in) {
    const auto length = static_cast<std::uint32_t>(in->code.size());
    CheckNoAllocation(state, [&] {
        lxd::DecodeRunLength(in->code.data(), length, g_destination, kBlock, kBlock);
    });
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            lxd::DecodeRunLength(in->code.data(), length, g_destination, kBlock, kBlock));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void DecodeByteLoop(benchmark::State& state, const Input* in) {
    const auto length = static_cast<std::uint32_t>(in->code.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ByteLoopDecode(in->code.data(), length, g_destination, kBlock, kBlock));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void DecodeStrided(benchmark::State& state, const Input* in, std::uint32_t stride) {
    Bytes code(lxd::MaxEncodedLength(kBlock));
    const std::int32_t length = lxd::EncodeRunLengthStrided(
        in->levels.data(), kBlock, code.data(), static_cast<std::uint32_t>(code.size()), stride);
    CheckNoAllocation(state, [&] {
        lxd::DecodeRunLengthStrided(code.data(), static_cast<std::uint32_t>(length), g_destination,
                                    kBlock, stride);
    });
    for (auto _ : state) {
        benchmark::DoNotOptimize(lxd::DecodeRunLengthStrided(
            code.data(), static_cast<std::uint32_t>(length), g_destination, kBlock, stride));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void Encode(benchmark::State& state, const Input* in, std::uint32_t stride) {
    std::uint8_t output[lxd::MaxEncodedLength(kBlock)];
    std::int32_t length = 0;
    CheckNoAllocation(state, [&] {
        lxd::EncodeRunLengthStrided(in->levels.data(), kBlock, output, sizeof output, stride);
    });
    for (auto _ : state) {
        length =
            lxd::EncodeRunLengthStrided(in->levels.data(), kBlock, output, sizeof output, stride);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
    state.counters["ratio"] = static_cast<double>(length) / kBlock;  // code bytes per level
}

// The number of codes in a block of code.
int CountCodes(const Bytes& code) {
    int codes = 0;
    for (std::size_t at = 0; at < code.size(); ++codes) {
        at += (code[at] & 0x80) ? 2 : 1 + code[at];
    }
    return codes;
}

// Every decoder must give back the levels it was built from.
bool DecodersAgree() {
    bool ok = true;
    for (const Input& in : Inputs()) {
        const auto length = static_cast<std::uint32_t>(in.code.size());
        std::uint8_t a[kBlock];
        std::uint8_t b[kBlock];
        ok &= lxd::DecodeRunLength(in.code.data(), length, a, kBlock, kBlock) == length;
        ok &= ByteLoopDecode(in.code.data(), length, b, kBlock, kBlock) == length;
        ok &= std::memcmp(a, in.levels.data(), kBlock) == 0 &&
              std::memcmp(b, in.levels.data(), kBlock) == 0;
        if (!ok) {
            std::fprintf(stderr, "decoders disagree on %s\n", in.name);
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    using lxd::bench::WithMin;
    benchmark::Initialize(&argc, argv);
    if (!DecodersAgree()) {
        return 1;
    }
    for (const Input& in : Inputs()) {
        std::printf("%s: %zu bytes of code in %d codes for %u levels\n", in.name, in.code.size(),
                    CountCodes(in.code), kBlock);
    }
    WithMin(benchmark::RegisterBenchmark("memcpy512", Memcpy512));
    WithMin(benchmark::RegisterBenchmark("memcpy512_fixed", Memcpy512Fixed));
    for (const Input& in : Inputs()) {
        const std::string name = in.name;
        WithMin(benchmark::RegisterBenchmark(("decode/" + name).c_str(), Decode, &in));
        WithMin(benchmark::RegisterBenchmark(("byteloop/" + name).c_str(), DecodeByteLoop, &in));
        for (std::uint32_t stride : {1u, 3u}) {
            const std::string suffix = name + "/stride" + std::to_string(stride);
            WithMin(
                benchmark::RegisterBenchmark(("encode/" + suffix).c_str(), Encode, &in, stride));
            WithMin(benchmark::RegisterBenchmark(("decode_strided/" + suffix).c_str(),
                                                 DecodeStrided, &in, stride));
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (lxd::bench::HotPathAllocations() != 0) {
        std::fprintf(stderr, "FAIL: %llu heap allocations inside the codec loops\n",
                     static_cast<unsigned long long>(lxd::bench::HotPathAllocations()));
        return 1;
    }
    std::printf("allocations inside the codec loops: 0\n");
    return 0;
}
