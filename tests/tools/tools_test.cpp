// lxdravik-monitor and lxdravik-send as a user runs them: levels sent by the
// sender reach the driver loaded by the monitor at the right addresses, and
// bad arguments and files give a clear message and a non-zero exit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "host/udp.h"
#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"
#include "tests/tools/output.h"

namespace lxd::test {
namespace {

#if defined(_WIN32)
constexpr const char* kProgramSuffix = ".exe";
constexpr const char* kLibrarySuffix = ".dll";
#else
constexpr const char* kProgramSuffix = "";
constexpr const char* kLibrarySuffix = ".so";
#endif
const std::string kDir = ProgramDirectory();
const std::string kMonitor = kDir + "lxdravik-monitor" + kProgramSuffix;
const std::string kSend = kDir + "lxdravik-send" + kProgramSuffix;

std::string WriteFile(const std::string& name, const std::string& text) {
    static const std::string dir = MakeTempDirectory();
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

struct SenderRun {
    std::vector<std::string> arguments;
    std::string summary;  // part of what the sender reports about its packets
};

TEST(ToolsIntegration, LevelsFromEveryPacketKindArriveWhereTheyWereSent) {
    const std::string levelFile = WriteFile("level.txt",
                                            "# two neighbours share one packet, port 7 alone\n"
                                            "1 0 10\n1 511 11\n2 0 12\n2 300 13\n7 5 14\n");
    const std::string rawFile = WriteFile("raw.txt", "9 0 21\n9 256 22\n9 511 23\n10 1 24\n");
    const std::string codedFile =
        WriteFile("coded.txt", "20 256 77\n35 0 5\n35 1 5\n35 2 5\n35 3 5\n35 511 200\n");
    const std::vector<SenderRun> runs = {
        {{"--file", levelFile, "--packet", "level"}, "packets: 2 level, 0 block"},
        {{"--file", rawFile, "--coding", "raw"},
         "packets: 0 level, 1 block (2 raw blocks, 0 coded)"},
        {{"--file", codedFile, "--coding", "rle"},
         "packets: 0 level, 1 block (0 raw blocks, 2 coded)"},
        {{"--pattern", "ramp", "--ports", "17", "--count", "1", "--coding", "rle"},
         "(0 raw blocks, 1 coded)"},
        {{"--pattern", "ramp", "--ports", "31", "--count", "1"}, "(1 raw blocks, 0 coded)"},
        {{"--pattern", "full", "--level", "99", "--ports", "30", "--count", "1"},
         "(0 raw blocks, 1 coded)"},
    };

    std::vector<Levels> expected(36, Levels(512, 0));
    expected[1][0] = 10;
    expected[1][511] = 11;
    expected[2][0] = 12;
    expected[2][300] = 13;
    expected[7][5] = 14;
    expected[9][0] = 21;
    expected[9][256] = 22;
    expected[9][511] = 23;
    expected[10][1] = 24;
    expected[20][256] = 77;
    for (int c = 0; c < 4; ++c) {
        expected[35][c] = 5;
    }
    expected[35][511] = 200;
    for (int c = 0; c < 512; ++c) {
        expected[17][c] = c & 0xFF;
        expected[31][c] = c & 0xFF;
        expected[30][c] = 99;
    }

    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start({kMonitor, "--duration", "4", "--json", "--rate", "100"}));
    ASSERT_TRUE(monitor.WaitForError("listening", std::chrono::seconds(10)));
    for (const SenderRun& run : runs) {
        std::vector<std::string> arguments{kSend, "--quiet"};
        arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
        const ProcessResult sent = RunProcess(arguments);
        EXPECT_EQ(sent.exitCode, 0) << sent.err;
        EXPECT_TRUE(Holds(sent.out, run.summary)) << run.arguments[1];
    }
    const ProcessResult report = monitor.Finish(std::chrono::seconds(20));
    ASSERT_EQ(report.exitCode, 0) << report.err;
    EXPECT_TRUE(Holds(report.out, "\"version\": [3, 200]"));
    EXPECT_TRUE(Holds(report.out, "\"branding\": \"DVK\""));

    const std::map<int, Levels> ports = PortsInReport(report.out);
    std::set<int> changed;
    for (const auto& entry : ports) {
        changed.insert(entry.first);
    }
    EXPECT_EQ(changed, (std::set<int>{1, 2, 7, 9, 10, 17, 20, 30, 31, 35}));
    EXPECT_EQ(ArrayAfter(report.out, report.out.find("\"changed_ports\"")),
              (Levels{1, 2, 7, 9, 10, 17, 20, 30, 31, 35}));
    for (const auto& [port, levels] : ports) {
        EXPECT_EQ(levels, expected[port]) << "port " << port;
    }
}

TEST(ToolsIntegration, TextReportListsTheChangedPortWithItsLevels) {
    const std::string file = WriteFile("text.txt", "4 16 42\n4 17 43\n");
    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start({kMonitor, "--duration", "2"}));
    ASSERT_TRUE(monitor.WaitForError("listening", std::chrono::seconds(10)));
    const ProcessResult sent = RunProcess({kSend, "--file", file});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    const ProcessResult report = monitor.Finish(std::chrono::seconds(20));
    ASSERT_EQ(report.exitCode, 0) << report.err;
    EXPECT_TRUE(Holds(report.out, "(version 3.200, \"DVK\")"));
    EXPECT_TRUE(Holds(report.out, "\nport 4: levels changed in 1 of"));
    EXPECT_TRUE(Holds(report.out, "\n   16:  42  43   0"));
    EXPECT_EQ(report.out.find("port 3:"), std::string::npos);
    EXPECT_EQ(report.out.find("port 5:"), std::string::npos);
}

#if defined(_WIN32)
// The installer's layout: the DLL in the host's folder, the monitor in the
// tools folder below it.
TEST(ToolsIntegration, MonitorFindsTheDriverInTheFolderAbove) {
    const std::filesystem::path host = MakeTempDirectory();
    std::filesystem::create_directory(host / "tools");
    std::filesystem::copy_file(kDir + "lxdravik.dll", host / "lxdravik.dll");
    std::filesystem::copy_file(kMonitor, host / "tools" / "lxdravik-monitor.exe");
    const ProcessResult run = RunProcess(
        {(host / "tools" / "lxdravik-monitor.exe").string(), "--duration", "0", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string expected = (host / "lxdravik.dll").string();
    for (std::size_t at = expected.find('\\'); at != std::string::npos;
         at = expected.find('\\', at + 2)) {
        expected.insert(at, 1, '\\');  // as JSON writes it
    }
    EXPECT_TRUE(Holds(run.out, "\"driver\": \"" + expected + "\""));
}
#endif

TEST(ToolsErrors, MonitorSaysWhenPortIsBusy) {
    host::UdpSocket holder;
    ASSERT_TRUE(holder.Bind(2501));
    const ProcessResult run = RunProcess({kMonitor, "--duration", "1"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(Holds(run.err, "lxdravik-monitor: Connect failed: UDP port 2501"));
    EXPECT_EQ(run.out, "");
}

struct ErrorCase {
    const char* name;
    std::vector<std::string> arguments;  // after the program
    std::string message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class MonitorErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(MonitorErrors, PrintTheReasonAndFail) {
    std::vector<std::string> arguments{kMonitor};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const ProcessResult run = RunProcess(arguments);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(Holds(run.err, GetParam().message));
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Tools, MonitorErrors,
    ::testing::Values(
        ErrorCase{"NoDriver",
                  {"--driver", "/nonexistent/liblxdravik.so", "--duration", "1"},
                  "lxdravik-monitor: cannot load driver '/nonexistent/liblxdravik.so'"},
        ErrorCase{"MissingExport",
                  {"--driver", kDir + "liblxd_partial_driver" + kLibrarySuffix, "--duration", "1"},
                  "has no export GetDriverCaps"},
#if defined(_WIN32)
        // The Windows build has no live view and says so for its options.
        ErrorCase{"NoLiveView", {"--live"}, "--live"},
        ErrorCase{"NoLiveViewPort", {"--port", "3"}, "--port"},
#else
        ErrorCase{"PortOutOfRange", {"--port", "36"}, "--port: Value 36 not in range 0 to 35"},
        ErrorCase{"UnknownFormat", {"--format", "oct"}, "--format: oct not in {dec,hex,pct}"},
        ErrorCase{"LiveWithoutTerminal", {"--live"}, "--live needs a terminal"},
#endif
        ErrorCase{"RateZero", {"--rate", "0"}, "--rate"},
        ErrorCase{"UnknownOption", {"--colour"}, "--colour"}),
    [](const auto& info) { return std::string(info.param.name); });

class SenderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SenderErrors, PrintTheReasonAndFail) {
    std::vector<std::string> arguments{kSend, "--count", "1"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const ProcessResult run = RunProcess(arguments);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(Holds(run.err, GetParam().message));
    EXPECT_EQ(run.out, "");
}

const std::string BadFile(const std::string& name, const std::string& text) {
    return WriteFile(name, text);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, SenderErrors,
    ::testing::Values(
        ErrorCase{"PortAbove35", {"--ports", "0-3,36"}, "--ports: port 36 is outside 0..35"},
        ErrorCase{"RangeBackwards", {"--ports", "5-2"}, "port range 5-2 runs backwards"},
        ErrorCase{"MalformedPorts", {"--ports", "1,,x"}, "malformed ports list '1,,x'"},
        ErrorCase{"LevelAbove255", {"--level", "256"}, "--level: Value 256 not in range"},
        ErrorCase{"UnknownPattern", {"--pattern", "sparkle"}, "--pattern: sparkle not in"},
        ErrorCase{"DestinationWithoutPort", {"--to", "127.0.0.1"}, "--to: expected HOST:PORT"},
        ErrorCase{"DestinationPortTooLarge", {"--to", "127.0.0.1:65536"}, "got '127.0.0.1:65536'"},
        ErrorCase{"CodingWithLevelPackets",
                  {"--packet", "level", "--coding", "rle"},
                  "--coding applies to block packets only"},
        ErrorCase{"DurationAndCount", {"--duration", "1"}, "excludes"},
        ErrorCase{"FileAndPattern",
                  {"--file", "x.txt", "--pattern", "ramp"},
                  "--pattern excludes --file"},
        ErrorCase{"MissingFile",
                  {"--file", "/nonexistent/levels.txt"},
                  "/nonexistent/levels.txt: cannot open the file"},
        ErrorCase{"FileLineTooShort",
                  {"--file", BadFile("short.txt", "# levels\n1 2 3\n5 0\n")},
                  "short.txt:3: expected 'port channel value'"},
        ErrorCase{"FileNegativeValue",
                  {"--file", BadFile("negative.txt", "0 0 -1\n")},
                  "negative.txt:1: expected 'port channel value'"},
        ErrorCase{"FilePortAbove35",
                  {"--file", BadFile("port.txt", "\n\n36 0 1 # too far\n")},
                  "port.txt:3: port 36 is outside 0..35"},
        ErrorCase{"FileChannelAbove511",
                  {"--file", BadFile("channel.txt", "0 512 1\n")},
                  "channel.txt:1: channel 512 is outside 0..511"},
        ErrorCase{"FileValueAbove255",
                  {"--file", BadFile("value.txt", "0 0 255\n0 1 256\n")},
                  "value.txt:2: value 256 is outside 0..255"},
        ErrorCase{"FileWithoutLevels",
                  {"--file", BadFile("empty.txt", "# nothing\n\n")},
                  "empty.txt: no levels in the file"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lxd::test
