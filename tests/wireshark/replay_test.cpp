// lxdravik-send --pcap and --replay: captures written by the sender (pcap,
// stamped with the frames' due times), converted by editcap (pcapng) and
// written over Linux cooked framing play into the driver under
// lxdravik-monitor, with their timing, also in a loop; bad files are a
// one-line error and exit code 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "host/capture.h"
#include "tests/support/packets.h"
#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"
#include "tests/tools/output.h"
#include "tests/wireshark/tshark.h"

namespace lxd::test {
namespace {

const std::string kSend = ProgramDirectory() + "lxdravik-send";
const std::string kDir = MakeTempDirectory();

ProcessResult Send(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {kSend, "--quiet"});
    return RunProcess(arguments);
}

// A capture by the sender of levels 11 12 13 at channels 0-2 of `port`.
std::string SentCapture(int port) {
    const std::string base = kDir + "/port" + std::to_string(port);
    std::ofstream(base + ".txt") << port << " 0 11\n" << port << " 1 12\n" << port << " 2 13\n";
    EXPECT_EQ(Send({"--file", base + ".txt", "--pcap", base + ".pcap"}).exitCode, 0);
    return base + ".pcap";
}

// A Linux cooked capture: a fragment (whole and cut by the snapshot length),
// a datagram to another port, and two
// level packets for `port` 400 ms apart (the first with wrong levels, the
// second in two fragments).
std::string CookedCapture(int port) {
    const std::string path = kDir + "/cooked.pcap";
    host::CaptureWriter writer;
    std::string error;
    EXPECT_TRUE(writer.Open(path, host::Link::kLinuxCooked, error)) << error;
    LevelPacket packet;
    packet.start = static_cast<std::uint32_t>(port) * 512 + 1;
    packet.levels = {99, 99, 99};
    const Bytes wrong = packet.Build();
    packet.levels = {11, 12, 13};
    const Bytes right = packet.Build();
    std::vector<std::uint8_t> fragment(host::kMaxFrameHeader + wrong.size());
    fragment.resize(host::BuildUdpFrame(host::Link::kLinuxCooked, {host::kLoopbackAddress, 1},
                                        {host::kLoopbackAddress, 2501}, 0, wrong.data(),
                                        wrong.size(), fragment.data(), fragment.size()));
    fragment[16 + 6] |= 0x20;  // more fragments
    const host::UdpEndpoint from{host::kLoopbackAddress, 50000};
    EXPECT_TRUE(writer.WriteFrame(0, fragment.data(), fragment.size()));
    EXPECT_TRUE(writer.WriteFrame(0, fragment.data(), fragment.size() - 1, fragment.size()));
    EXPECT_TRUE(writer.Write(0, from, {host::kLoopbackAddress, 9999}, wrong.data(), wrong.size()));
    EXPECT_TRUE(
        writer.Write(100000, from, {host::kLoopbackAddress, 2501}, wrong.data(), wrong.size()));
    for (const Bytes& piece : FragmentFrames(right, 32, host::Link::kLinuxCooked)) {
        EXPECT_TRUE(writer.WriteFrame(500000, piece.data(), piece.size()));
    }
    EXPECT_TRUE(writer.Close(error)) << error;
    return path;
}

struct Played {
    std::string capture;
    std::string summary;
    double seconds;  // the least time its timing takes
};

// The number of whole passes in the replay summary.
int Passes(const std::string& out) {
    const std::size_t at = out.find("whole passes: ");
    return at == std::string::npos ? -1 : std::stoi(out.substr(at + 14));
}

TEST(Replay, CapturesOfEveryKindPlayIntoTheDriverWithTheirTiming) {
    const std::string cooked = CookedCapture(3);
    std::vector<Played> captures = {
        {SentCapture(1), "capture: 1 frames, 1 datagrams to port 2501 (0 put together", 0},
        {cooked,
         "capture: 7 frames, 2 datagrams to port 2501 (1 put together from 3 fragments); "
         "skipped: 1 cut by the snapshot length, 1 IP fragments not played, 1 to other "
         "ports\n",
         0.4}};
    // The sender stamps frames with their due times: 100 ms apart at 10 fps.
    const std::string chase = kDir + "/chase.pcap";
    ASSERT_EQ(
        Send({"--pattern", "chase", "--ports", "4", "--count", "3", "--fps", "10", "--pcap", chase})
            .exitCode,
        0);
    captures.push_back({chase, "capture: 3 frames, 3 datagrams to port 2501", 0.2});
    // A file cut off inside its last record plays what comes before it.
    std::ifstream in(chase, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string cut = kDir + "/chase-cut.pcap";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() - 10);
    captures.push_back({cut,
                        "capture: 2 frames, 2 datagrams to port 2501 (0 put together from "
                        "0 fragments), the last record cut off; skipped: none\n",
                        0.1});
    if (!EditcapPath().empty()) {
        const std::string pcapng = kDir + "/port2.pcapng";
        ASSERT_EQ(RunProcess({EditcapPath(), "-F", "pcapng", SentCapture(2), pcapng}).exitCode, 0);
        captures.push_back({pcapng, "capture: 1 frames, 1 datagrams to port 2501", 0});
    }
    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start({ProgramDirectory() + "lxdravik-monitor"}));  // until interrupted
    ASSERT_TRUE(monitor.WaitForError("listening", std::chrono::seconds(10)));
    // Four times as fast, a pass of the cooked capture takes 100 ms. The
    // replays below then leave the right levels.
    ChildProcess loop;
    ASSERT_TRUE(loop.Start({kSend, "--quiet", "--replay", cooked, "--loop", "--speed", "4"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    loop.Interrupt();
    const ProcessResult looped = loop.Finish(std::chrono::seconds(10));
    EXPECT_EQ(looped.exitCode, 0) << looped.err;
    EXPECT_GE(Passes(looped.out), 3) << looped.out;
    // A capture of one datagram loops at the 25 ms gap, not as fast as it can.
    ChildProcess single;
    ASSERT_TRUE(single.Start({kSend, "--quiet", "--replay", captures[0].capture, "--loop"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    single.Interrupt();
    const ProcessResult singles = single.Finish(std::chrono::seconds(10));
    EXPECT_EQ(singles.exitCode, 0) << singles.err;
    EXPECT_GE(Passes(singles.out), 10) << singles.out;
    EXPECT_LE(Passes(singles.out), 1000 / 25 + 2) << singles.out;

    for (const Played& played : captures) {
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult run = Send({"--replay", played.capture});
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(Holds(run.out, played.summary));
        EXPECT_GE(took.count(), played.seconds) << played.capture;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a few ServiceDevices calls
    monitor.Interrupt();
    const ProcessResult snapshot = monitor.Finish(std::chrono::seconds(20));
    ASSERT_EQ(snapshot.exitCode, 0) << snapshot.err;
    for (const int port : {1, 2, 3, 4}) {  // port 2: the pcapng, where editcap is
        if (port != 2 || !EditcapPath().empty()) {
            EXPECT_TRUE(Holds(snapshot.out, "\nport " + std::to_string(port) + ": levels changed"));
        }
    }
    EXPECT_TRUE(Holds(snapshot.out, "\n    0:  11  12  13   0"));
    EXPECT_EQ(snapshot.out.find("  99  99  99"), std::string::npos) << snapshot.out;
}

TEST(Replay, BadFilesGiveOneLineAndExitTwo) {
    const std::string text = kDir + "/text.txt";
    std::ofstream(text) << "port channel value\n";
    const std::string sent = SentCapture(5);
    std::ifstream in(sent, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string cut = kDir + "/cut.pcap";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() - 10);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--replay", kDir + "/missing.pcap"}, "missing.pcap: No such file or directory"},
        {{"--replay", text}, "text.txt: not a pcap or pcapng capture file"},
        {{"--replay", cut},
         "cut.pcap: no UDP datagram to port 2501 among its 0 frames (skipped: none); its last "
         "record is cut off"},
        {{"--replay", sent, "--replay-port", "2502"},
         "no UDP datagram to port 2502 among its 1 frames"},
    };
    for (const auto& [arguments, message] : cases) {
        const ProcessResult run = Send(arguments);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_TRUE(Holds(run.err, "lxdravik-send: "));
        EXPECT_TRUE(Holds(run.err, message));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace lxd::test
