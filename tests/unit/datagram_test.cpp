#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "intake/datagram.h"
#include "protocol/block_writer.h"
#include "protocol/layout.h"
#include "protocol/level_writer.h"
#include "tests/support/packets.h"

namespace lxd {
namespace {

using test::Block;
using test::BlockDatagram;
using test::Bytes;
using test::LevelPacket;

// "84 7F" -> {0x84, 0x7F}: the run-length codes as they are written down.
Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return out;
}

Bytes Repeat(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

// n distinct-looking levels, different for each seed.
Bytes Levels(std::size_t n, std::uint8_t seed) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 5);
    }
    return out;
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes LevelDatagram(std::uint32_t start, const Bytes& levels, std::int32_t countField = -1,
                    std::uint8_t filler = 0, std::uint16_t kind = kLevelPacketKind) {
    LevelPacket packet;
    packet.kind = kind;
    packet.start = start;
    packet.levels = levels;
    packet.countField = countField;
    packet.filler = filler;
    return packet.Build();
}

Block MakeBlock(std::uint16_t start, std::uint16_t count, const Bytes& data) {
    return Block{start, count, data};
}

// The tools' writers: a level packet, and a block packet of one block coded
// as asked, checking whether the writer coded it.
Bytes Written(std::uint32_t start, const Bytes& levels) {
    LevelWriter writer;
    EXPECT_TRUE(writer.Set(start, levels.data(), static_cast<std::uint32_t>(levels.size())));
    return Bytes(writer.Data(), writer.Data() + writer.Size());
}
Bytes Written(std::uint16_t start, const Bytes& levels, BlockCoding coding, bool coded) {
    BlockWriter writer;
    EXPECT_TRUE(
        writer.Add(start, levels.data(), static_cast<std::uint16_t>(levels.size()), coding));
    EXPECT_EQ(writer.LastCoded(), coded) << "block at " << start;
    return Bytes(writer.Data(), writer.Data() + writer.Size());
}

Bytes Truncated(Bytes datagram, std::size_t length) {
    datagram.resize(length);
    return datagram;
}

// The store's contents before each datagram: every byte known and most differ
// from their neighbours, so that a misplaced write shows.
std::uint8_t Before(std::size_t i) {
    return static_cast<std::uint8_t>(i * 37 + 11);
}

// Watches the hooks: every change to the store must happen between a
// beforeWrite and its afterWrite.
struct HookWatch {
    const std::uint8_t* store = nullptr;
    Bytes settled;  // the store as it stood at the last afterWrite
    int before = 0;
    int after = 0;
    bool nested = false;
    bool changedOutside = false;

    bool Unchanged() const { return std::memcmp(store, settled.data(), kStoreSize) == 0; }
};
HookWatch g_watch;

void WatchBefore(void*) {
    g_watch.nested |= g_watch.before != g_watch.after;
    g_watch.changedOutside |= !g_watch.Unchanged();
    ++g_watch.before;
}
void WatchAfter(void*) {
    ++g_watch.after;
    g_watch.settled.assign(g_watch.store, g_watch.store + kStoreSize);
}
constexpr StoreWriteHooks kWatchHooks{nullptr, &WatchBefore, &WatchAfter};

// The index of the first byte where the store differs from `expected`, or -1.
long FirstDifference(const std::uint8_t* store, const Bytes& expected) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (store[i] != expected[i]) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

struct Write {
    std::uint32_t address;  // store address, 1-based
    Bytes levels;
};

struct Case {
    std::string name;
    Bytes datagram;
    std::vector<Write> writes;  // what the store must show, applied in order
    int writeCalls;             // hook pairs expected
};

// Applies each case to a heap store of exactly 18,432 bytes (AddressSanitizer
// sees any write past it) from a heap datagram of exactly its length (and any
// read past it), and compares the whole store.
void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<std::uint8_t[]> store(new std::uint8_t[kStoreSize]);
        Bytes expected(kStoreSize);
        for (std::size_t i = 0; i < kStoreSize; ++i) {
            store[i] = expected[i] = Before(i);
        }
        for (const Write& w : c.writes) {
            ASSERT_LE(w.address - 1 + w.levels.size(), kStoreSize);
            std::copy(w.levels.begin(), w.levels.end(), expected.begin() + (w.address - 1));
        }
        std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[c.datagram.size()]);
        std::copy(c.datagram.begin(), c.datagram.end(), datagram.get());

        g_watch = HookWatch{};
        g_watch.store = store.get();
        g_watch.settled.assign(store.get(), store.get() + kStoreSize);
        ApplyDatagram(datagram.get(), static_cast<std::uint32_t>(c.datagram.size()), store.get(),
                      kWatchHooks);

        EXPECT_EQ(FirstDifference(store.get(), expected), -1) << "first store byte that differs";
        EXPECT_EQ(g_watch.before, c.writeCalls);
        EXPECT_EQ(g_watch.after, c.writeCalls);
        EXPECT_FALSE(g_watch.nested);
        EXPECT_FALSE(g_watch.changedOutside || !g_watch.Unchanged())
            << "store changed outside the write hooks";
    }
}

TEST(ApplyDatagram, LevelPackets) {
    const Bytes p512 = Levels(512, 3);
    const Bytes p1024 = Levels(1024, 9);
    Check({
        {"512 levels at 1 set port 0", LevelDatagram(1, p512), {{1, p512}}, 1},
        {"200 levels at 400 cross into port 1",
         LevelDatagram(400, Levels(200, 1)),
         {{400, Levels(200, 1)}},
         1},
        {"1,024 levels at 17,409 fill the last two ports",
         LevelDatagram(17409, p1024),
         {{17409, p1024}},
         1},
        {"1,024 levels at 17,410 reach past the store", LevelDatagram(17410, p1024), {}, 0},
        {"a count of 1,025 is dropped", LevelDatagram(1, Levels(1025, 2)), {}, 0},
        {"start address 0 is dropped", LevelDatagram(0, Levels(4, 2)), {}, 0},
        {"start + count wrapping 32 bits is dropped",
         LevelDatagram(0xFFFFFFFF, Levels(2, 2)),
         {},
         0},
        {"count 0 changes nothing", LevelDatagram(5, {}), {}, 1},
        {"uninterpreted bytes may hold anything",
         LevelDatagram(100, Levels(10, 4), -1, 0xFF),
         {{100, Levels(10, 4)}},
         1},
        {"levels beyond the count are not applied",
         LevelDatagram(300, Levels(10, 4), 4),
         {{300, Levels(4, 4)}},
         1},
        {"one level short is dropped whole",
         Truncated(LevelDatagram(300, Levels(10, 4)), 75),
         {},
         0},
        {"a header shorter than 66 bytes is dropped",
         Truncated(LevelDatagram(300, Levels(10, 4), 0), 65),
         {},
         0},
        {"kind 0x2030 is ignored", LevelDatagram(1, p512, -1, 0, 0x2030), {}, 0},
        {"a single byte is ignored", Bytes{0x20}, {}, 0},
        {"levels end exactly at the last channel",
         LevelDatagram(18432, {0x42}),
         {{18432, {0x42}}},
         1},
        {"the level writer's packet", Written(400, p1024), {{400, p1024}}, 1},
        {"the level writer's packet of no levels", Written(5, Bytes{}), {}, 1},
    });
    EXPECT_FALSE(LevelWriter().Set(1, Levels(1025, 2).data(), 1025));
}

TEST(ApplyDatagram, BlockPackets) {
    const Bytes p512 = Levels(512, 7);
    Check({
        {"one uncoded block of 512 sets port 0",
         BlockDatagram({MakeBlock(1, 512, p512)}),
         {{1, p512}},
         1},
        {"one coded block",
         BlockDatagram({MakeBlock(1, 4, Hex("84 7F"))}),
         {{1, Repeat(4, 0x7F)}},
         1},
        {"a code as long as its count is taken as levels",
         BlockDatagram({MakeBlock(50, 2, Hex("82 05"))}),
         {{50, Hex("82 05")}},
         1},
        {"block start 0 ends the list at once",
         BlockDatagram({MakeBlock(0, 4, Hex("84 7F")), MakeBlock(10, 2, Hex("01 02"))}),
         {},
         0},
        {"block start 2 = 0 ignores blocks 2 and 3",
         BlockDatagram({MakeBlock(1, 3, Hex("83 01")), MakeBlock(600, 2, Hex("0A 0B")),
                        MakeBlock(0, 2, Hex("0C 0D")), MakeBlock(700, 2, Hex("0E 0F"))}),
         {{1, Repeat(3, 0x01)}, {600, Hex("0A 0B")}},
         2},
        {"data offset 1 = 0 ends the list; block 0 has no data",
         BlockDatagram({MakeBlock(1, 3, Hex("83 09 0A 0B 0C 0D")), MakeBlock(600, 2, {}),
                        MakeBlock(700, 2, {})},
                       {0, 0, 2, 4, 6}),
         {},
         1},
        {"a block past the store is skipped, the others applied",
         BlockDatagram({MakeBlock(1, 2, Hex("0A 0B")), MakeBlock(18000, 500, Hex("81 01")),
                        MakeBlock(9000, 3, Hex("83 44"))}),
         {{1, Hex("0A 0B")}, {9000, Repeat(3, 0x44)}},
         2},
        {"the largest start and count are skipped",
         BlockDatagram({MakeBlock(65535, 65535, Hex("81 01")), MakeBlock(2, 1, Hex("01"))}),
         {{2, Hex("01")}},
         1},
        {"port 35 written in full",
         BlockDatagram({MakeBlock(17921, 512, p512)}),
         {{17921, p512}},
         1},
        {"later blocks win where ranges overlap",
         BlockDatagram({MakeBlock(10, 4, Hex("84 01")), MakeBlock(12, 4, Hex("84 02"))}),
         {{10, Repeat(4, 0x01)}, {12, Repeat(4, 0x02)}},
         2},
        {"a coded block of 127 and one of a literal",
         BlockDatagram({MakeBlock(200, 127, Hex("FF 2A")), MakeBlock(400, 3, Hex("03 01 02 03"))}),
         {{200, Repeat(127, 0x2A)}, {400, Hex("01 02 03")}},
         2},
        {"the block writer codes a block whose code is shorter",
         Written(100, Repeat(512, 7), BlockCoding::kShorter, true),
         {{100, Repeat(512, 7)}},
         1},
        {"and sends it raw when its code is not shorter",
         Written(100, p512, BlockCoding::kShorter, false),
         {{100, p512}},
         1},
        {"or when asked",
         Written(100, Repeat(512, 7), BlockCoding::kRaw, false),
         {{100, Repeat(512, 7)}},
         1},
        {"asked to code, it sends a code longer than the levels",
         Written(100, Hex("01 02 03"), BlockCoding::kCoded, true),
         {{100, Hex("01 02 03")}},
         1},
        {"but not one as long as the levels",
         Written(100, Hex("01 01 01 02"), BlockCoding::kCoded, false),
         {{100, Hex("01 01 01 02")}},
         1},
    });
    // Four blocks to a packet, and no block past the largest datagram.
    BlockWriter writer;
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(writer.Add(1, p512.data(), 512, BlockCoding::kRaw));
    }
    EXPECT_FALSE(writer.Add(1, p512.data(), 512, BlockCoding::kRaw));
    EXPECT_FALSE(writer.Add(1, p512.data(), 512, BlockCoding::kCoded));
    EXPECT_EQ(writer.Size(), kBlockDataArea + 1024);
    // 246 raw levels leave room for exactly the ten bytes of 512 equal levels.
    EXPECT_TRUE(writer.Add(1, p512.data(), 246, BlockCoding::kRaw));
    EXPECT_TRUE(writer.Add(1, Repeat(512, 7).data(), 512));
    EXPECT_EQ(writer.Size(), std::size_t{kLargestDatagram});
    EXPECT_FALSE(writer.Add(1, Repeat(4, 7).data(), 4));
    EXPECT_EQ(writer.Blocks(), 4);
    EXPECT_EQ(writer.CodedBlocks(), 1);
}

// The worked decoder examples, at store address 1,000 over known contents.
TEST(ApplyDatagram, CodedBlocksInTheStore) {
    const Bytes literals = Levels(127, 0x30);
    auto at1000 = [](std::uint16_t count, const Bytes& code) {
        return BlockDatagram({MakeBlock(1000, count, code)});
    };
    Check({
        {"run and literals",
         at1000(8, Hex("85 00 03 0A 0B 0C")),
         {{1000, Hex("00 00 00 00 00 0A 0B 0C")}},
         1},
        {"codes after the count are not decoded",
         at1000(8, Hex("85 00 03 0A 0B 0C 84 FF 00")),
         {{1000, Hex("00 00 00 00 00 0A 0B 0C")}},
         1},
        {"eight bytes of code for eight levels are levels",
         at1000(8, Hex("85 00 03 0A 0B 0C 84 FF")),
         {{1000, Hex("85 00 03 0A 0B 0C 84 FF")}},
         1},
        {"short codes leave the rest", at1000(5, Hex("83 07")), {{1000, Repeat(3, 0x07)}}, 1},
        {"an overshooting run is written whole",
         at1000(3, Hex("85 07")),
         {{1000, Repeat(5, 0x07)}},
         1},
        {"zero-count codes", at1000(2, Hex("80 41 00 82 09")), {{1000, Hex("09 09")}}, 1},
        {"run of 127", at1000(127, Hex("FF 2A")), {{1000, Repeat(127, 0x2A)}}, 1},
        {"literal of 127", at1000(127, Join(Hex("7F"), literals)), {{1000, literals}}, 1},
        {"no data for a count of 5", at1000(5, {}), {}, 1},
    });
}

// Blocks whose data do not lie in the received bytes are skipped; nothing
// outside the datagram is read.
TEST(ApplyDatagram, ShortDatagramsAndForeignData) {
    Check({
        {"a block packet of 35 bytes is ignored",
         Truncated(BlockDatagram({MakeBlock(1, 0, {})}), 35),
         {},
         0},
        {"a block packet of 36 bytes with an empty block",
         BlockDatagram({MakeBlock(1, 0, {})}),
         {},
         1},
        {"a block cut short by the datagram's end is skipped",
         Truncated(
             BlockDatagram({MakeBlock(1, 4, Hex("01 02 03 04")), MakeBlock(100, 4, Hex("84 7F"))}),
             36 + 5),
         {{1, Hex("01 02 03 04")}},
         1},
        {"uncoded data cut short is skipped",
         Truncated(BlockDatagram({MakeBlock(1, 512, Levels(512, 1))}), 36 + 511),
         {},
         0},
        {"a wrapped encoded length is skipped, the next block applied",
         BlockDatagram({MakeBlock(1, 4, Hex("AA BB 84 7F")), MakeBlock(100, 4, {})}, {8, 2, 4}),
         {{100, Repeat(4, 0x7F)}},
         1},
        {"a data offset past the datagram is skipped",
         BlockDatagram({MakeBlock(1, 4, Hex("84 7F")), MakeBlock(100, 4, {})}, {0, 2, 1400}),
         {{1, Repeat(4, 0x7F)}},
         1},
    });
}

// A last code crossing the end of the store is cut off there.
TEST(ApplyDatagram, CodesOvershootingTheStoreEndStopThere) {
    Check({
        {"run at the last two channels",
         BlockDatagram({MakeBlock(18431, 1, Hex("85 07"))}),
         {{18431, Repeat(2, 0x07)}},
         1},
        {"literal at the last three channels",
         BlockDatagram({MakeBlock(18430, 1, Hex("05 01 02 03 04 05"))}),
         {{18430, Hex("01 02 03")}},
         1},
        {"run of 127 from 33 channels before the end",
         BlockDatagram({MakeBlock(18400, 30, Hex("FF 07"))}),
         {{18400, Repeat(33, 0x07)}},
         1},
    });

    // The same with guard bytes behind the store, for runs without a sanitizer.
    Bytes buffer(kStoreSize + 256, 0x5A);
    const Bytes guard(256, 0x5A);
    for (const Bytes& datagram : {BlockDatagram({MakeBlock(18431, 1, Hex("85 07"))}),
                                  BlockDatagram({MakeBlock(18400, 30, Hex("FF 07"))}),
                                  BlockDatagram({MakeBlock(18432, 0, Hex("85 07"))})}) {
        ApplyDatagram(datagram.data(), static_cast<std::uint32_t>(datagram.size()), buffer.data(),
                      StoreWriteHooks{nullptr, nullptr, nullptr});
        EXPECT_EQ(Bytes(buffer.begin() + kStoreSize, buffer.end()), guard);
    }
    EXPECT_EQ(buffer[kStoreSize - 1], 0x07);
}

}  // namespace
}  // namespace lxd
