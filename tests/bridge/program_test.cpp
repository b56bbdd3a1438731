// lxdravik-bridge as a user runs it, on loopback: sACN by unicast and by
// multicast (lo, IP_MULTICAST_IF 127.0.0.1) and Art-Net with discovery reach
// the driver loaded by the monitor; bad packets are counted; bad command
// lines and busy ports give one line and the documented exit code.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/bridge/packets.h"
#include "tests/tools/child_process.h"
#include "tests/tools/snapshot.h"

namespace lxd::test {
namespace {

const std::string kBridge = ProgramDirectory() + "lxdravik-bridge";
const std::string kMonitor = ProgramDirectory() + "lxdravik-monitor";

// A UDP socket on loopback, optionally bound (with address reuse), whose
// multicast leaves through lo.
class Loopback {
  public:
    explicit Loopback(const char* bindAddress = nullptr, std::uint16_t port = 0, int reuse = 1)
        : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        const in_addr lo{htonl(INADDR_LOOPBACK)};
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo);
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

// The monitor, listening for 4 s. Another program's test may hold the
// driver's port for a moment: then it tries again.
std::unique_ptr<ChildProcess> StartMonitor() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto monitor = std::make_unique<ChildProcess>();
        if (monitor->Start({kMonitor, "--duration", "4", "--json", "--rate", "100"}) &&
            monitor->WaitForError("listening", std::chrono::seconds(10))) {
            return monitor;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return nullptr;
}

TEST(BridgeProgram, ThirtySixUniversesOfBothProtocolsReachTheDriver) {
    const std::unique_ptr<ChildProcess> monitor = StartMonitor();
    ASSERT_NE(monitor, nullptr) << "UDP 2501 stayed busy";
    ChildProcess bridge;
    ASSERT_TRUE(bridge.Start({kBridge, "--sacn", "1-34", "--artnet", "0:0:5-6@34", "--bind",
                              "127.0.0.1", "--duration", "2.5", "--json"}));
    ASSERT_TRUE(bridge.WaitForError("listening", std::chrono::seconds(10))) << kBridge;

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
    const std::map<int, Levels> ports = PortsInSnapshot(snapshot.out);
    for (int p = 0; p < 36; ++p) {
        EXPECT_EQ(ports.count(p) ? ports.at(p) : Levels(512, 0), expected[p]) << "port " << p;
    }
}

TEST(BridgeProgram, RefusesWhatItCannotDoWithOneLine) {
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
        {{"--sacn", "1", "--bind", "192.0.2.1"}, 1, "--bind: 192.0.2.1 is not an address"},
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

}  // namespace
}  // namespace lxd::test
