// The dissector's fields on the sender's level and block packets, and its
// verdict, Info column, expert warnings and levels on hand-made datagrams,
// each near one of the driver's rules, in one tshark run.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/datagram_samples.h"
#include "tests/support/packets.h"
#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"
#include "tests/wireshark/tshark.h"

namespace lxd::test {
namespace {

struct FieldCase {
    const char* name;
    Bytes datagram;
    std::string info;
    std::vector<std::string> experts;
    std::vector<std::string> levels = {};  // of the level packet or of each applied block
};

// One of the shared samples, by name.
Bytes Sample(const std::string& name) {
    for (const NamedDatagram& sample : DatagramSamples()) {
        if (sample.name == name) {
            return sample.bytes;
        }
    }
    ADD_FAILURE() << "no sample " << name;
    return {};
}

const std::string kIgnored = "Ignored by the driver: ";

std::vector<FieldCase> Cases() {
    // A block packet by its bytes: one block at address 1 of 4 levels, coded
    // as one run of 0x7F (data offsets 0 and 2).
    const Bytes runCode = {0x80, 0x8F, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0,    0,
                           0,    0,    0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x84, 0x7F};
    return {
        {"RunCodeByTheBytes", runCode, "Block: 1 block, port 0, 1 coded", {}, {"7f7f7f7f"}},
        {"TooManyLevels",
         Sample("level-count-too-big"),
         "Level: 1025 levels at port 0 ch 0 (ignored: more than 1,024 levels)",
         {kIgnored + "more than 1,024 levels"}},
        {"LevelsShortOfCount",
         Sample("level-short"),
         "Level: 100 levels at port 0 ch 0 (ignored: shorter than its count (10 of 100 levels "
         "present))",
         {kIgnored + "shorter than its count (10 of 100 levels present)"}},
        {"UnknownKind",
         Sample("wrong-kind"),
         "Unknown kind 0x2030 (ignored: not a level or block packet)",
         {kIgnored + "not a level or block packet"}},
        {"OverReceiveLimit",
         Sample("block-over-receive-limit"),
         "Block: 1 block (ignored: longer than 1,316 bytes: discarded whole on receive)",
         {kIgnored + "longer than 1,316 bytes: discarded whole on receive"}},
        {"BlockPastStoreEndThenOne",
         Sample("block-past-store-then-valid"),
         "Block: 1 block, port 3, 0 coded, 1 ignored",
         {"Block 0 ignored by the driver: runs past the end of the store (port 35 ch 511)"},
         {"070809"}},
        {"StartZeroEndsList",
         Sample("block-gap-in-list"),
         "Block: 1 block, port 0, 0 coded, 1 ignored",
         {"Block 2 ignored by the driver: behind the end of the block list (block 1 has start "
          "address 0, which ends the list)"},
         {"0102"}},
        {"CutLiteral",
         Sample("block-cut-literal"),
         "Block: 1 block, port 0, 1 coded",
         {"Block 0: its last code is cut off by the end of its data and is not written",
          "Block 0: the codes cover 2 of 7 levels; the other channels keep their levels"},
         {"0708"}},
        {"OvershootAtStoreEnd",
         Sample("block-overshoot"),
         "Block: 1 block, port 35, 1 coded",
         {"Block 0: the last code passes the count by 124, and those levels are written too",
          "Block 0: the code runs past the end of the store; 3 levels written"},
         {"111111"}},
        {"TakenButWritesNothing",
         BlockDatagram({{1, 5, {}}}),
         "Block: 1 block, no level written, 1 coded",
         {"Block 0: the codes cover 0 of 5 levels; the other channels keep their levels",
          "Block 0: applied, but it writes no level"},
         {"<MISSING>"}},
    };
}

TEST(DissectorFields, JudgeAndDecodeEachDatagramAsTheDriverDoes) {
    if (TsharkPath().empty()) {
        GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    }
    const std::vector<FieldCase> cases = Cases();
    std::vector<Bytes> datagrams;
    for (const FieldCase& c : cases) {
        datagrams.push_back(c.datagram);
    }
    const TsharkFields run = RunTshark(
        CaptureOf(datagrams),
        {"_ws.col.Info", "_ws.expert.message", "lxdravik.level.levels", "lxdravik.block.levels"});
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_EQ(run.frames.size(), cases.size()) << run.error;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto& fields = run.frames[i];
        EXPECT_EQ(fields[0], std::vector<std::string>{cases[i].info});
        EXPECT_EQ(fields[1], cases[i].experts);
        EXPECT_EQ(fields[2].empty() ? fields[3] : fields[2], cases[i].levels);
    }
}

// The sender's packets, with --pcap, through tshark: the fields of their
// headers (the levels in them are the agreement test's).
TEST(DissectorFields, ShowTheSendersPackets) {
    if (TsharkPath().empty()) {
        GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    }
    // Port 3 codes short (12 bytes of codes); port 4 has no runs and goes raw.
    std::string blocks = "3 0 7\n3 1 7\n3 2 7\n";
    for (int c = 0; c < 512; ++c) {
        blocks += "4 " + std::to_string(c) + " " + std::to_string((c * 7 + 1) % 256) + "\n";
    }
    using Values = std::vector<std::string>;
    const struct {
        std::string levels;
        Values options;
        Values fields;
        std::vector<Values> expected;
    } cases[] = {
        {blocks,
         {},
         {"lxdravik.kind", "_ws.col.Info", "lxdravik.block.index", "lxdravik.block.start",
          "lxdravik.block.count", "lxdravik.block.offset", "lxdravik.block.encoded_length",
          "lxdravik.block.coded"},
         {{"0x808f"},
          {"Block: 2 blocks, ports 3-4, 1 coded"},
          {"0", "1"},
          {"1537", "2049"},
          {"512", "512"},
          {"0", "12"},
          {"12", "512"},
          {"1", "0"}}},
        {"6 5 9\n",
         {"--packet", "level"},
         {"lxdravik.kind", "_ws.col.Info", "lxdravik.level.count", "lxdravik.level.start",
          "_ws.expert.message"},
         {{"0x202f"}, {"Level: 512 levels at port 6 ch 0"}, {"512"}, {"3073"}, {}}},
    };
    for (const auto& c : cases) {
        const std::string dir = MakeTempDirectory();
        std::ofstream(dir + "/levels.txt") << c.levels;
        std::vector<std::string> arguments{ProgramDirectory() + "lxdravik-send",
                                           "--quiet",
                                           "--file",
                                           dir + "/levels.txt",
                                           "--pcap",
                                           dir + "/sent.pcap"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ProcessResult sent = RunProcess(arguments);
        ASSERT_EQ(sent.exitCode, 0) << sent.err;
        const TsharkFields run = RunTshark(dir + "/sent.pcap", c.fields);
        EXPECT_EQ(run.frames, std::vector<std::vector<Values>>{c.expected}) << run.error;
    }
}

}  // namespace
}  // namespace lxd::test
