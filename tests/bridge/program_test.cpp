// lxdravik-bridge as a user runs it, always inside network namespaces the
// test makes (so that its joins on every interface stay there): on loopback,
// sACN by unicast and by multicast and Art-Net with discovery reach the
// driver loaded by the monitor; synchronised universes reach a host reading
// the driver whole; bad packets are counted; bad command lines and busy
// ports give one line and the documented exit code. Rigs of veth pairs stand
// for show networks: no default route, two cards, a card that comes up late,
// --interface; the sampling period at start-up and on a late card; and a
// terminal that stops reading.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "host/device_entry.h"
#include "host/driver_library.h"
#include "tests/support/bridge_packets.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"
#include "tests/tools/output.h"

namespace lxd::test {
namespace {

const std::string kBridge = ProgramDirectory() + "lxdravik-bridge";
const std::string kMonitor = ProgramDirectory() + "lxdravik-monitor";

#define REQUIRE_PRIVATE_NETWORK()                                                        \
    if (!EnterPrivateNetwork()) {                                                        \
        GTEST_SKIP() << "the bridge runs only in a network namespace, which needs root"; \
    }

// A UDP socket on loopback, optionally bound (with address reuse), whose
// multicast leaves through `via` (lo by default).
class Loopback {
  public:
    explicit Loopback(const char* bindAddress = nullptr, std::uint16_t port = 0, int reuse = 1,
                      const char* via = "127.0.0.1")
        : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        in_addr out{};
        inet_pton(AF_INET, via, &out);
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out);
        const timeval wait{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (bindAddress != nullptr) {
            setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
            const sockaddr_in a = Address(bindAddress, port);
            bound_ = bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        }
    }
    ~Loopback() { close(fd_); }
    bool Bound() const { return bound_; }
    void SendTo(const Bytes& b, const char* address, std::uint16_t port) {
        const sockaddr_in a = Address(address, port);
        EXPECT_EQ(
            sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a),
            static_cast<ssize_t>(b.size()));
    }
    Bytes Receive() {
        Bytes b(1500);
        const ssize_t n = recv(fd_, b.data(), b.size(), 0);
        b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return b;
    }

  private:
    static sockaddr_in Address(const char* address, std::uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address, &a.sin_addr);
        return a;
    }
    int fd_;
    bool bound_ = false;
};

Bytes Sacn(std::uint16_t universe, const Bytes& slots, std::uint8_t priority = 100) {
    SacnFields f;
    f.universe = universe;
    f.slots = slots;
    f.priority = priority;
    f.sourceName = "Desk " + std::to_string(priority);
    f.cidByte = priority;
    return f.Build();
}

// The monitor, listening for `seconds`. Another program's test may hold the
// driver's port for a moment: then it tries again.
std::unique_ptr<ChildProcess> StartMonitor(const char* seconds = "4") {
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto monitor = std::make_unique<ChildProcess>();
        if (monitor->Start({kMonitor, "--duration", seconds, "--json", "--rate", "100"}) &&
            monitor->WaitForError("listening", std::chrono::seconds(10))) {
            return monitor;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return nullptr;
}

TEST(BridgeProgram, ThirtySixUniversesOfBothProtocolsReachTheDriver) {
    REQUIRE_PRIVATE_NETWORK();
    const std::unique_ptr<ChildProcess> monitor = StartMonitor();
    ASSERT_NE(monitor, nullptr) << "UDP 2501 stayed busy";
    ChildProcess bridge;
    ASSERT_TRUE(bridge.Start({kBridge, "--sacn", "1-34", "--artnet", "0:0:5-6@34", "--bind",
                              "127.0.0.1", "--duration", "2.5", "--json"}));
    ASSERT_TRUE(bridge.WaitForError("listening", std::chrono::seconds(10))) << kBridge;
    // Sent within the first 1.5 s (sampling): merged together when it ends.

    Loopback sender;
    std::vector<Levels> expected(36, Levels(512, 0));
    for (std::uint16_t u = 1; u <= 34; ++u) {  // multicast to 239.255.0.u, on lo
        const Bytes slots(3, static_cast<std::uint8_t>(u));
        sender.SendTo(Sacn(u, slots), ("239.255.0." + std::to_string(u)).c_str(), 5568);
        std::fill(expected[u - 1].begin(), expected[u - 1].begin() + 3, u);
    }
    Bytes ramp(512);
    for (int i = 0; i < 512; ++i) {
        ramp[i] = static_cast<std::uint8_t>(i * 3);
        expected[1][i] = ramp[i];
    }
    sender.SendTo(Sacn(2, ramp, 150), "127.0.0.1", 5568);  // unicast, a higher priority
    sender.SendTo(Sacn(500, {1}), "127.0.0.1", 5568);      // not mapped
    sender.SendTo(Sacn(2, {1}, 150), "127.0.0.1", 5568);   // the same sequence number again
    Bytes preview = Sacn(3, {99});
    preview[112] = 0x80;  // options: preview data
    sender.SendTo(preview, "127.0.0.1", 5568);
    Bytes cut = Sacn(1, {9});
    cut.resize(100);
    sender.SendTo(cut, "127.0.0.1", 5568);  // truncated

    // A console polls from 127.0.0.3:6454 and sends ArtDmx to the address announced.
    Loopback console("127.0.0.3", 6454);
    ASSERT_TRUE(console.Bound());
    console.SendTo(ArtPollFields{}.Build(), "127.0.0.1", 6454);
    const Bytes reply = console.Receive();
    ASSERT_EQ(reply.size(), 239u);  // its layout is BridgeArtPoll's
    EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 14), (Bytes{127, 0, 0, 1}));
    ArtDmxFields dmx;
    dmx.portAddress = 6;
    dmx.data = {7, 8};
    console.SendTo(dmx.Build(), "127.0.0.1", 6454);
    expected[35][0] = 7;
    expected[35][1] = 8;

    const ProcessResult bridged = bridge.Finish(std::chrono::seconds(10));
    EXPECT_EQ(bridged.exitCode, 0) << bridged.err;
    const nlohmann::json summary = nlohmann::json::parse(bridged.out, nullptr, false);
    ASSERT_TRUE(summary.is_object()) << bridged.out;
    EXPECT_EQ(summary["sacn"]["malformed"]["truncated"], 1);
    EXPECT_EQ(summary["sacn"]["not_data"], 0);
    EXPECT_EQ(summary["sacn"]["unmapped"], 1);
    EXPECT_EQ(summary["artnet"]["polls"], 1);
    EXPECT_EQ(summary["artnet"]["replies"], 1);
    const nlohmann::json& universe2 = summary["universes"][1];
    EXPECT_EQ(universe2["protocol"], "sacn");
    EXPECT_EQ(universe2["universe"], 2);
    EXPECT_EQ(universe2["packets"], 2);
    EXPECT_EQ(universe2["dropped"]["out_of_order"], 1);
    EXPECT_EQ(universe2["sources_seen"], 2);
    EXPECT_EQ(summary["universes"][2]["dropped"]["preview"], 1);
    const ProcessResult snapshot = monitor->Finish(std::chrono::seconds(10));
    ASSERT_EQ(snapshot.exitCode, 0) << snapshot.err;
    const std::map<int, Levels> ports = PortsInReport(snapshot.out);
    for (int p = 0; p < 36; ++p) {
        EXPECT_EQ(ports.count(p) ? ports.at(p) : Levels(512, 0), expected[p]) << "port " << p;
    }
}

// Routes from a configuration file into the driver: sACN universe 1 with an
// Art-Net backup at priority 50 on port 0, and two channels of a panel's
// universe 20 above both at channel 511. The backup's levels take over once
// the main desk is lost, the main desk's return within 2.5 s.
TEST(BridgeProgram, RoutesFailOverToAnArtnetBackupAndBack) {
    REQUIRE_PRIVATE_NETWORK();
    const std::string dir = MakeTempDirectory();
    std::ofstream(dir + "/bridge.toml")
        << "[[route]]\nfrom = \"sacn 1\"\nport = 0\n"
           "[[route]]\nfrom = \"artnet 0\"\nport = 0\npriority = 50\n"
           "[[route]]\nfrom = \"sacn 20\"\nchannels = \"1-2\"\n"
           "port = 0\nat = 511\npriority = 150\n";
    ChildProcess bridge;
    ASSERT_TRUE(bridge.Start(
        {kBridge, "--config", dir + "/bridge.toml", "--bind", "127.0.0.1", "--duration", "9"}));
    ASSERT_TRUE(bridge.WaitForError("listening", std::chrono::seconds(10)));
    Loopback console;
    ArtDmxFields backup;
    backup.data = Bytes(512, 50);
    // Each phase: the monitor listens while the desks send every 100 ms; the
    // main desk only for its first `main` seconds.
    const struct {
        const char* seconds;
        double main;
        int level;
    } phases[] = {{"5", 1.8, 50}, {"3", 3, 100}};
    std::uint8_t sequence = 0;
    for (const auto& phase : phases) {
        const std::unique_ptr<ChildProcess> monitor = StartMonitor(phase.seconds);
        ASSERT_NE(monitor, nullptr);
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = start + std::chrono::duration<double>(std::atof(phase.seconds));
        while (std::chrono::steady_clock::now() < deadline) {
            Bytes main = Sacn(1, Bytes(512, 100));
            Bytes panel = Sacn(20, {7, 8}, 120);
            main[111] = panel[111] = ++sequence;
            if (std::chrono::steady_clock::now() - start <
                std::chrono::duration<double>(phase.main)) {
                console.SendTo(main, "127.0.0.1", 5568);
            }
            console.SendTo(panel, "127.0.0.1", 5568);
            console.SendTo(backup.Build(), "127.0.0.1", 6454);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const ProcessResult report = monitor->Finish(std::chrono::seconds(10));
        const std::map<int, Levels> ports = PortsInReport(report.out);
        ASSERT_EQ(ports.count(0), 1u) << report.out;
        EXPECT_EQ(ports.at(0)[0], phase.level) << phase.seconds;
        EXPECT_EQ(Levels(ports.at(0).begin() + 509, ports.at(0).end()),
                  (Levels{phase.level, 7, 8}));
    }
    bridge.Interrupt();
    EXPECT_EQ(bridge.Finish(std::chrono::seconds(10)).exitCode, 0);
    std::remove((dir + "/bridge.toml").c_str());
    std::remove(dir.c_str());
}

// A console sends frame f (every level 1 + f % 250) of universes 1-8 spread
// over 14 ms of each 33 ms, naming synchronisation universe 100, then the
// synchronisation packet; a host reads ports 0-7 of the real driver about
// 1,000 times a second. A read that shows two frames at once is torn (with
// --sync off, about 40 % are).
TEST(BridgeProgram, SynchronisedUniversesReachAHostWhole) {
    REQUIRE_PRIVATE_NETWORK();
    host::DriverLibrary driver;
    ASSERT_TRUE(driver.Load(host::DefaultDriverPath())) << driver.Error();
    const host::DriverExports& d = driver.Exports();
    std::vector<std::uint8_t> list = host::EmptyDetectionList();
    d.StartDetect();
    d.ContinueDetect(0, list.data());
    ASSERT_EQ(d.Connect(list.data() + kListHeaderSize), 0);
    ChildProcess bridge;
    ASSERT_TRUE(bridge.Start({kBridge, "--sacn", "1-8", "--bind", "127.0.0.1", "--duration", "6"}));
    ASSERT_TRUE(bridge.WaitForError("listening", std::chrono::seconds(10)));
    std::atomic<bool> stop{false};
    std::thread console([&stop] {
        Loopback sender;
        const auto start = std::chrono::steady_clock::now();
        for (int f = 0; !stop; ++f) {
            for (std::uint16_t u = 1; u <= 8; ++u) {
                SacnFields data;
                data.universe = u;
                data.syncAddress = 100;
                data.sequence = static_cast<std::uint8_t>(f);
                data.slots = Bytes(512, static_cast<std::uint8_t>(1 + f % 250));
                sender.SendTo(data.Build(), "127.0.0.1", 5568);
                std::this_thread::sleep_for(std::chrono::milliseconds(u < 8 ? 2 : 0));
            }
            sender.SendTo(SacnSync(100, static_cast<std::uint8_t>(f)), "127.0.0.1", 5568);
            std::this_thread::sleep_until(start + std::chrono::milliseconds(33 * (f + 1)));
        }
    });
    // Past the bridge's sampling, 3 s of reads.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    int reads = 0, torn = 0;
    std::set<int> frames;
    for (auto next = std::chrono::steady_clock::now(); reads < 3000; ++reads) {
        d.ServiceDevices();
        std::set<int> seen;
        for (int port = 0; port < 8; ++port) {
            seen.insert(d.GetChannel(0, port, 0));
        }
        torn += seen.size() > 1 ? 1 : 0;
        frames.insert(*seen.begin());
        std::this_thread::sleep_until(next += std::chrono::milliseconds(1));
    }
    stop = true;
    console.join();
    d.Disconnect(0);
    std::printf("torn reads: %d of %d (%.2f %%), %zu frames seen\n", torn, reads,
                100.0 * torn / reads, frames.size());
    EXPECT_LE(torn, reads / 100);
    EXPECT_GT(frames.size(), 50u);  // the looks moved on: about 90 in 3 s
    EXPECT_EQ(bridge.Finish(std::chrono::seconds(10)).exitCode, 0);
}

TEST(BridgeProgram, RefusesWhatItCannotDoWithOneLine) {
    REQUIRE_PRIVATE_NETWORK();
    Loopback holder("0.0.0.0", 6454, 0);  // no address reuse: the port is busy for the bridge
    ASSERT_TRUE(holder.Bound());
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;
    } cases[] = {
        {{}, 2, "nothing to receive: map universes with --sacn and/or --artnet"},
        {{"--sacn", "1-7@30"}, 2, "--sacn 1-7@30: the list runs past port 35"},
        {{"--sacn", "1", "--to", "2501"}, 2, "--to: expected HOST:PORT"},
        {{"--sacn", "1", "--bind", "notanaddress"}, 2, "--bind: 'notanaddress' is not an IPv4"},
        {{"--sacn", "1", "--interface", "10.1.1.256"}, 2, "--interface: '10.1.1.256' is neither"},
        {{"--sacn", "1", "--duration", "inf"}, 2, "--duration: expected a number of seconds"},
        {{"--sacn", "1", "--duration", "1e10"}, 2, "--duration: expected a number of seconds"},
        {{"--sacn", "1", "--bogus"}, 2, "--bogus"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{kBridge};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProcessResult run = RunProcess(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
        EXPECT_TRUE(Holds(run.err, c.message));
        EXPECT_EQ(run.out, "");
    }
    const ProcessResult busy = RunProcess({kBridge, "--artnet", "1"});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_EQ(busy.err,
              "lxdravik-bridge: UDP port 6454 (Art-Net) is held by a program that does "
              "not share it; stop it (`ss -ulpn 'sport = :6454'` shows which) and try "
              "again\n");
    const ProcessResult help = RunProcess({kBridge, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Holds(help.out, "--sacn UNIVERSES[@PORT]"));
}

// Network namespaces for one rig, named after this process, removed at the
// end: L (the bridge's machine), S (the console's network, reached from L over
// the veth pair vl-vs) and W (another network with the default route, vw-vo).
class Rig {
  public:
    Rig() : prefix_(NamespaceName("rig")) {}
    ~Rig() {
        RunProcess({"/bin/sh", "-c",
                    "for n in L S W; do ip netns del " + prefix_ + "$n 2>/dev/null; done"});
    }
    // Runs `script` with $L, $S and $W naming the namespaces.
    bool Run(const std::string& script) const {
        const ProcessResult run =
            RunProcess({"/bin/sh", "-ec",
                        "L=" + prefix_ + "L; S=" + prefix_ + "S; W=" + prefix_ + "W; " + script});
        EXPECT_EQ(run.exitCode, 0) << script << "\n" << run.err;
        return run.exitCode == 0;
    }
    std::vector<std::string> In(char ns, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"/usr/sbin/ip", "netns", "exec", prefix_ + ns});
        return arguments;
    }
    // A UDP socket opened inside namespace `ns`, multicast leaving from `via`.
    std::unique_ptr<Loopback> SocketIn(char ns, const char* via) const {
        const int self = open("/proc/thread-self/ns/net", O_RDONLY);
        const int there = open(("/run/netns/" + prefix_ + ns).c_str(), O_RDONLY);
        std::unique_ptr<Loopback> socket;
        if (self >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0) {
            socket = std::make_unique<Loopback>(nullptr, 0, 1, via);
            EXPECT_EQ(setns(self, CLONE_NEWNET), 0);
        }
        close(self);
        close(there);
        return socket;
    }

  private:
    std::string prefix_;
};

// The show network: the bridge's card 10.101.0.5/16 without a route out,
// the console at 10.101.0.1.
const char* const kShowNetwork =
    "ip netns add $L; ip netns add $S; ip -n $L link set lo up; "
    "ip -n $L link add vl type veth peer name vs netns $S; "
    "ip -n $S addr add 10.101.0.1/16 dev vs; ip -n $S link set vs up; ";
const char* const kShowCardUp = "ip -n $L addr add 10.101.0.5/16 dev vl; ip -n $L link set vl up; ";
// A second card whose network has the default route (a venue's Wi-Fi).
const char* const kOtherNetwork =
    "ip netns add $W; ip -n $L link add vw type veth peer name vo netns $W; "
    "ip -n $W addr add 192.168.77.1/24 dev vo; ip -n $W link set vo up; "
    "ip -n $L addr add 192.168.77.5/24 dev vw; ip -n $L link set vw up; "
    "ip -n $L route add default via 192.168.77.1; ";

TEST(BridgeProgram, ReceivesTheConsolesMulticastOnTheShowNetwork) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "network namespaces need root";
    }
    const struct {
        const char* name;
        std::string rig;
        std::string later;  // run 0.5 s after the bridge started (2 s with `backup`)
        std::vector<std::string> options;
        bool fromOtherNetwork;  // W also sends universe 1, by unicast and multicast
        // A desk at priority 150 joins 0.7 s after the console (100): sampled
        // together, so the console's levels never reach the driver.
        bool backup = false;
    } cases[] = {
        {"one card, no default route", std::string(kShowNetwork) + kShowCardUp, "", {}, false},
        {"two cards, the show one without a route",
         std::string(kShowNetwork) + kShowCardUp + kOtherNetwork,
         "",
         {},
         false},
        {"the card comes up after the bridge started", kShowNetwork, kShowCardUp, {}, false},
        {"the card goes away and comes back (a USB adapter)",
         std::string(kShowNetwork) + kShowCardUp,
         "ip -n $L link del vl; sleep 0.3; ip -n $L link add vl type veth peer name vs netns $S; "
         "ip -n $S addr add 10.101.0.1/16 dev vs; ip -n $S link set vs up; " +
             std::string(kShowCardUp),
         {},
         false},
        {"--interface ignores the other network",
         std::string(kShowNetwork) + kShowCardUp + kOtherNetwork,
         "",
         {"--interface", "vl"},
         true},
        {"sampling at start-up", std::string(kShowNetwork) + kShowCardUp, "", {}, false, true},
        {"sampling on a card that comes up later", kShowNetwork, kShowCardUp, {}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_TRUE(rig.Run(c.rig));
        ChildProcess monitor;
        const bool late = c.backup && !c.later.empty();
        ASSERT_TRUE(
            monitor.Start(rig.In('L', {kMonitor, "--duration", late ? "6.5" : "5", "--json"})));
        ASSERT_TRUE(monitor.WaitForError("listening", std::chrono::seconds(10)));
        std::vector<std::string> arguments = {kBridge, "--sacn", "1-2", "--duration",
                                              late ? "5.5" : "4"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ChildProcess bridge;
        ASSERT_TRUE(bridge.Start(rig.In('L', arguments)));
        ASSERT_TRUE(bridge.WaitForError("listening", std::chrono::seconds(10)));
        std::this_thread::sleep_for(std::chrono::milliseconds(late ? 2000 : 500));
        if (!c.later.empty()) {
            ASSERT_TRUE(rig.Run(c.later));
        }
        // The console sends at 10 Hz, as does a desk on the other network.
        const std::unique_ptr<Loopback> console = rig.SocketIn('S', "10.101.0.1");
        const std::unique_ptr<Loopback> other =
            c.fromOtherNetwork ? rig.SocketIn('W', "192.168.77.1") : nullptr;
        ASSERT_NE(console, nullptr);
        SacnFields f;
        f.slots = {44, 45};
        SacnFields intruder = f;
        intruder.cidByte = 9;
        intruder.priority = 200;
        intruder.slots = {99, 99};
        SacnFields backup = intruder;
        backup.priority = 150;
        backup.slots = {66, 67};
        for (int i = 0; i < 30; ++i) {
            f.sequence = intruder.sequence = backup.sequence = static_cast<std::uint8_t>(i);
            console->SendTo(f.Build(), "239.255.0.1", 5568);
            if (c.backup && i >= 7) {
                console->SendTo(backup.Build(), "239.255.0.1", 5568);
            }
            if (other != nullptr) {
                other->SendTo(intruder.Build(), "239.255.0.1", 5568);
                other->SendTo(intruder.Build(), "192.168.77.5", 5568);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const ProcessResult bridged = bridge.Finish(std::chrono::seconds(10));
        EXPECT_EQ(bridged.exitCode, 0) << bridged.err;
        EXPECT_TRUE(Holds(bridged.out, "vl 10.101.0.5 (3 groups joined)"));  // and discovery's
        const ProcessResult snapshot = monitor.Finish(std::chrono::seconds(10));
        const std::map<int, Levels> ports = PortsInReport(snapshot.out);
        ASSERT_EQ(ports.count(0), 1u) << snapshot.out;
        EXPECT_EQ(Levels(ports.at(0).begin(), ports.at(0).begin() + 3),
                  (c.backup ? Levels{66, 67, 0} : Levels{44, 45, 0}));
        if (c.backup) {  // the levels changed once, to the merge of both desks
            EXPECT_EQ(nlohmann::json::parse(snapshot.out)["ports"][0]["changes"], 1);
        }
    }
}

TEST(BridgeProgram, AStoppedTerminalDoesNotStopTheLevels) {
    REQUIRE_PRIVATE_NETWORK();
    const std::unique_ptr<ChildProcess> monitor = StartMonitor();
    ASSERT_NE(monitor, nullptr);
    // The bridge's status view goes to a terminal whose output is stopped (the
    // Ctrl-S character, flow control) while a console sends changing levels
    // for 3 s; the driver must get the last ones.
    int terminal = -1;
    int side = -1;
    ASSERT_EQ(openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(side, 0);
        dup2(side, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(kBridge.c_str(), kBridge.c_str(), "--sacn", "1-36", "--duration", "3.5",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(side);
    ASSERT_EQ(write(terminal, "\x13", 1), 1);
    Loopback console;
    for (int i = 0; i < 30; ++i) {
        for (std::uint16_t u = 1; u <= 36; ++u) {
            SacnFields f;
            f.universe = u;
            f.sequence = static_cast<std::uint8_t>(i);
            f.slots = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(i)};
            console.SendTo(f.Build(), "127.0.0.1", 5568);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const ProcessResult snapshot = monitor->Finish(std::chrono::seconds(10));
    // Let the terminal go on, so that the bridge can print its summary and end.
    ASSERT_EQ(write(terminal, "\x11", 1), 1);
    std::string shown;
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        char buffer[4096];
        pollfd ready{terminal, POLLIN, 0};
        const ssize_t n = poll(&ready, 1, 100) > 0 ? read(terminal, buffer, sizeof buffer) : 0;
        if (n > 0) {
            shown.append(buffer, static_cast<std::size_t>(n));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) {
        shown.append(buffer, static_cast<std::size_t>(n));  // until EIO: the child is gone
    }
    close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(Holds(shown, "lxdravik-bridge: 3.5 s"));
    const std::map<int, Levels> ports = PortsInReport(snapshot.out);
    for (int p = 0; p < 36; ++p) {
        ASSERT_EQ(ports.count(p), 1u) << "port " << p << "\n" << snapshot.out;
        EXPECT_EQ(Levels(ports.at(p).begin(), ports.at(p).begin() + 2), (Levels{p + 1, 29}));
    }
}

}  // namespace
}  // namespace lxd::test
