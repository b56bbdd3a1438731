// The dissector's verdict, Info column, expert warnings and levels on
// hand-made datagrams, each near one of the driver's rules, in one tshark run.
#include <gtest/gtest.h>

#include "host/capture.h"
#include "host/packets.h"
#include "tests/support/test_support.h"
#include "tests/wireshark/tshark.h"

namespace lxd::test {
namespace {

using host::Block;
using host::Bytes;

struct FieldCase {
    const char* name;
    Bytes datagram;
    std::string applied;
    std::string info;
    std::vector<std::string> experts;
    std::vector<std::string> levels;  // of the level packet or of each applied block
};

Bytes Blocks(const std::vector<Block>& blocks, const std::vector<std::uint16_t>& offsets = {}) {
    host::BlockPacket packet;
    packet.blocks = blocks;
    packet.offsets = offsets;
    return packet.Build();
}

Bytes Levels(std::uint32_t start, std::size_t count, std::int32_t countField = -1) {
    host::LevelPacket packet;
    packet.start = start;
    packet.levels = Bytes(count, 0x33);
    packet.countField = countField;
    return packet.Build();
}

const std::string kIgnored = "Ignored by the driver: ";
const std::string kPastEnd = "runs past the end of the store (port 35 ch 511)";

std::vector<FieldCase> Cases() {
    // A block packet by its bytes: one block at address 1 of 4 levels, coded
    // as one run of 0x7F (data offsets 0 and 2).
    const Bytes runCode = {0x80, 0x8F, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0,    0,
                           0,    0,    0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x84, 0x7F};
    Bytes twoByteKind = {0x20, 0x2F};
    return {
        {"RunCodeByTheBytes", runCode, "1", "Block: 1 block, port 0, 1 coded", {}, {"7f7f7f7f"}},
        {"LevelPacket", Levels(1025, 3), "1", "Level: 3 levels at port 2 ch 0", {}, {"333333"}},
        {"TooManyLevels",
         Levels(1, 1025),
         "0",
         "Level: 1025 levels at port 0 ch 0 (ignored: more than 1,024 levels)",
         {kIgnored + "more than 1,024 levels"},
         {}},
        {"LevelsShortOfCount",
         Levels(1, 9, 10),
         "0",
         "Level: 10 levels at port 0 ch 0 (ignored: shorter than its count (9 of 10 levels "
         "present))",
         {kIgnored + "shorter than its count (9 of 10 levels present)"},
         {}},
        {"LevelsPastStoreEnd",
         Levels(18432, 2),
         "0",
         "Level: 2 levels at port 35 ch 511 (ignored: " + kPastEnd + ")",
         {kIgnored + kPastEnd},
         {}},
        {"LevelHeaderOnlyKind",
         twoByteKind,
         "0",
         "Level: (ignored: shorter than its 66-byte header)",
         {kIgnored + "shorter than its 66-byte header"},
         {}},
        {"UnknownKind",
         Bytes{0x20, 0x30, 1, 2, 3},
         "0",
         "Unknown kind 0x2030 (ignored: not a level or block packet)",
         {kIgnored + "not a level or block packet"},
         {}},
        {"OneByte",
         Bytes{0x80},
         "0",
         "Datagram of 1 byte (ignored: shorter than its 2-byte kind)",
         {kIgnored + "shorter than its 2-byte kind"},
         {}},
        {"OverReceiveLimit",
         Blocks({Block{1, 1281, Bytes(1281, 9)}}),
         "0",
         "Block: 1 block (ignored: longer than 1,316 bytes: discarded whole on receive)",
         {kIgnored + "longer than 1,316 bytes: discarded whole on receive"},
         {}},
        {"BlockHeaderShort",
         Bytes{0x80, 0x8F, 0, 0, 0, 0, 1, 0},
         "0",
         "Block: 0 blocks (ignored: shorter than its 36-byte header)",
         {kIgnored + "shorter than its 36-byte header"},
         {}},
        {"BlockPastStoreEndThenOne",
         Blocks({Block{18000, 500, {1}}, Block{2000, 3, {7, 8, 9}}}),
         "1",
         "Block: 1 block, port 3, 0 coded, 1 ignored",
         {"Block 0 ignored by the driver: " + kPastEnd},
         {"070809"}},
        {"EveryBlockIgnored",
         Blocks({Block{1, 8, Bytes(4, 1)}}, {0, 8, 0, 0, 0}),
         "0",
         "Block: 1 block (ignored: block 0: its data (8 bytes at data offset 0) lie outside "
         "the datagram's 4 data bytes)",
         {"Block 0 ignored by the driver: its data (8 bytes at data offset 0) lie outside the "
          "datagram's 4 data bytes",
          kIgnored + "block 0: its data (8 bytes at data offset 0) lie outside the datagram's 4 "
                     "data bytes"},
         {}},
        {"StartZeroEndsList",
         Blocks({Block{1, 2, {1, 2}}, Block{0, 2, {3, 4}}, Block{1025, 2, {5, 6}}}),
         "1",
         "Block: 1 block, port 0, 0 coded, 1 ignored",
         {"Block 2 ignored by the driver: behind the end of the block list (block 1 has start "
          "address 0, which ends the list)"},
         {"0102"}},
        {"OffsetZeroEndsList",
         Blocks({Block{1, 2, {}}, Block{513, 2, {1, 2}}}, {0, 0, 2, 0, 0}),
         "1",
         "Block: 1 block, port 0, 1 coded, 1 ignored",
         {"Block 0: the codes cover 0 of 2 levels; the other channels keep their levels",
          "Block 1 ignored by the driver: data offset 0 ends the block list here"},
         {"<MISSING>"}},
        {"CutLiteral",
         Blocks({Block{1, 7, {0x02, 7, 8, 0x05, 1}}}),
         "1",
         "Block: 1 block, port 0, 1 coded",
         {"Block 0: its last code is cut off by the end of its data and is not written",
          "Block 0: the codes cover 2 of 7 levels; the other channels keep their levels"},
         {"0708"}},
        {"OvershootAtStoreEnd",
         Blocks({Block{18430, 3, {0xFF, 0x11}}}),
         "1",
         "Block: 1 block, port 35, 1 coded",
         {"Block 0: the last code passes the count by 124, and those levels are written too",
          "Block 0: the code runs past the end of the store; 3 levels written"},
         {"111111"}},
        {"CodeAsLongAsCountIsRaw",
         Blocks({Block{4000, 2, {0x82, 0x10}}}),
         "1",
         "Block: 1 block, port 7, 0 coded",
         {},
         {"8210"}},
    };
}

TEST(DissectorFields, JudgeAndDecodeEachDatagramAsTheDriverDoes) {
    if (TsharkPath().empty()) {
        GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    }
    const std::vector<FieldCase> cases = Cases();
    const std::string capture = MakeTempDirectory() + "/cases.pcap";
    host::CaptureWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(capture, host::Link::kEthernet, error)) << error;
    for (const FieldCase& c : cases) {
        ASSERT_TRUE(writer.Write(0, {host::kLoopbackAddress, 50000}, {host::kLoopbackAddress, 2501},
                                 c.datagram.data(), c.datagram.size()));
    }
    ASSERT_TRUE(writer.Close(error)) << error;

    const TsharkFields run =
        RunTshark(capture, {"lxdravik.applied", "_ws.col.Info", "_ws.expert.message",
                            "lxdravik.level.levels", "lxdravik.block.levels"});
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_EQ(run.frames.size(), cases.size()) << run.error;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto& fields = run.frames[i];
        EXPECT_EQ(fields[0], std::vector<std::string>{cases[i].applied});
        EXPECT_EQ(fields[1], std::vector<std::string>{cases[i].info});
        EXPECT_EQ(fields[2], cases[i].experts);
        EXPECT_EQ(fields[3].empty() ? fields[4] : fields[3], cases[i].levels);
    }
}

}  // namespace
}  // namespace lxd::test
