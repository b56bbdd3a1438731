// lxdravik-bridge unattended: the status page's JSON and health check in the
// states that matter, requests that are bad or many, and a configuration
// reloaded while levels flow. Each test runs in a network namespace of its
// own (root only), where the test is also the driver.
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "intake/datagram.h"
#include "protocol/layout.h"
#include "tests/support/bridge_packets.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"

namespace lxd::test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

const std::string kBridge = ProgramDirectory() + "lxdravik-bridge";
constexpr std::uint16_t kPage = 8250;
constexpr std::uint16_t kDriver = 2601;  // the test's own stand-in for the driver

int Socket(int type) {
    const int fd = socket(AF_INET, type, 0);
    const timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    return fd;
}

sockaddr_in Loopback(std::uint16_t port, const char* address = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// A connection to `to` from `from` (any port).
int Connect(std::uint16_t port, const char* to = "127.0.0.1", const char* from = "127.0.0.1") {
    const int fd = Socket(SOCK_STREAM);
    const sockaddr_in a = Loopback(port, to);
    const sockaddr_in self = Loopback(0, from);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
        connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether the server has closed (or reset) the connection; what it sent
// before is read and dropped.
bool Closed(int fd) {
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    }
    return n == 0 || errno == ECONNRESET;
}

struct Reply {
    int status = 0;
    std::string body;
};

// Sends `request` as it is and reads the answer until the server closes.
Reply Exchange(const std::string& request, const char* to = "127.0.0.1") {
    Reply reply;
    const int fd = Connect(kPage, to);
    if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        close(fd);
        return reply;
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (text.rfind("HTTP/1.1 ", 0) == 0) {
        reply.status = std::atoi(text.c_str() + 9);
        const std::size_t body = text.find("\r\n\r\n");
        reply.body = body == std::string::npos ? "" : text.substr(body + 4);
    }
    return reply;
}

Reply Get(const std::string& path) {
    return Exchange("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// Asks for a WebSocket on /levels with `headers`; the answer's status, the
// connection left open in `fd` when it is 101.
int OpenSocket(int& fd, const std::string& headers = "Host: 127.0.0.1:8250\r\n",
               const char* from = "127.0.0.1") {
    fd = Connect(kPage, "127.0.0.1", from);
    const std::string request =
        "GET /levels HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
        headers + "\r\n";
    std::string text(" ", 1);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    while (text.find("\r\n\r\n") == std::string::npos && recv(fd, &text.back(), 1, 0) == 1) {
        text += ' ';
    }
    const int status = text.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(text.c_str() + 9) : 0;
    if (status != 101) {
        close(fd);
    }
    return status;
}

json Status() {
    const Reply r = Get("/status.json");
    return r.status == 200 ? json::parse(r.body, nullptr, false) : json();
}

// Polls /status.json until `ready` holds (at most 5 s); the last one read.
template <typename Ready>
json StatusWhen(Ready ready) {
    json s;
    for (int i = 0; i < 50; ++i) {
        s = Status();
        if (s.is_object() && ready(s)) {
            break;
        }
        std::this_thread::sleep_for(milliseconds(100));
    }
    return s;
}

// A UDP socket that sends sACN and Art-Net to the bridge.
class Console {
  public:
    Console() : fd_(Socket(SOCK_DGRAM)) {}
    ~Console() { close(fd_); }
    void Sacn(std::uint16_t universe, const Bytes& slots, std::uint8_t cid = 1) {
        SacnFields f;
        f.universe = universe;
        f.slots = slots;
        f.cidByte = cid;
        f.sourceName = "Desk " + std::to_string(cid);
        f.sequence = ++sequence_[universe % 64];
        To(f.Build(), 5568);
    }
    void Artnet(std::uint16_t portAddress, const Bytes& data) {
        ArtDmxFields f;
        f.portAddress = portAddress;
        f.data = data;
        To(f.Build(), 6454);
    }

  private:
    void To(const Bytes& b, std::uint16_t port) {
        const sockaddr_in a = Loopback(port);
        sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    }
    int fd_;
    std::uint8_t sequence_[64] = {};
};

// The driver's store as the datagrams the bridge sends leave it.
class Driver {
  public:
    Driver() : fd_(Socket(SOCK_DGRAM)) {
        const sockaddr_in a = Loopback(kDriver);
        bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        const timeval wait{0, 100000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~Driver() { close(fd_); }
    // Applies what arrives within `time`; the longest wait between two
    // datagrams that carried port `port`.
    milliseconds Receive(milliseconds time, int port) {
        const auto start = std::chrono::steady_clock::now();
        auto last = start;
        milliseconds longest{0};
        std::uint8_t datagram[1500];
        while (std::chrono::steady_clock::now() - start < time) {
            const ssize_t n = recv(fd_, datagram, sizeof datagram, 0);
            if (n <= 0) {
                continue;
            }
            std::vector<std::uint8_t> before(store.begin() + port * 512,
                                             store.begin() + port * 512 + 512);
            std::fill(store.begin() + port * 512, store.begin() + port * 512 + 512, 0xEE);
            ApplyDatagram(datagram, static_cast<std::uint32_t>(n), store.data(),
                          {nullptr, nullptr, nullptr});
            if (store[port * 512] == 0xEE && store[port * 512 + 511] == 0xEE) {
                std::copy(before.begin(), before.end(), store.begin() + port * 512);
                continue;  // not this port
            }
            const auto now = std::chrono::steady_clock::now();
            longest = std::max(longest, std::chrono::duration_cast<milliseconds>(now - last));
            last = now;
        }
        return longest;
    }
    std::vector<std::uint8_t> store = std::vector<std::uint8_t>(kStoreSize, 0);

  private:
    int fd_;
};

// The bridge in the namespace, whose only interface is loopback: it counts as a card.
std::unique_ptr<ChildProcess> StartBridge(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kBridge);
    auto bridge = std::make_unique<ChildProcess>();
    if (!bridge->Start(arguments) || !bridge->WaitForError("status page on", milliseconds(10000))) {
        return nullptr;
    }
    return bridge;
}

const std::string kPageAddress = "127.0.0.1:" + std::to_string(kPage);
const std::string kDriverAddress = "127.0.0.1:" + std::to_string(kDriver);

TEST(BridgeStatusPage, JsonAndHealthShowSourcesUnmappedUniversesAndTrouble) {
    if (!EnterPrivateNetwork(true)) {
        GTEST_SKIP() << "needs root for a network namespace of its own";
    }
    Driver driver;
    auto bridge = StartBridge({"--sacn", "1-2", "--artnet", "0:0:1@5", "--http", kPageAddress,
                               "--to", kDriverAddress, "--duration", "20"});
    ASSERT_NE(bridge, nullptr);
    EXPECT_EQ(Get("/healthz").status, 200) << "nothing to forward is healthy";
    EXPECT_EQ(Get("/healthz").body, "ok\n");

    Console console;
    Bytes ramp(512);
    for (int i = 0; i < 512; ++i) {
        ramp[i] = static_cast<std::uint8_t>(i);
    }
    const json s = StatusWhen([&](const json& s) {
        console.Sacn(1, ramp, 7);
        console.Sacn(9, {1});          // not mapped
        console.Artnet(0, {1, 2, 3});  // 0:0:0, one below the mapped 0:0:1
        return s["universes"][0]["levels"][511] == 255 && !s["unmapped"]["artnet"].empty();
    });
    ASSERT_TRUE(s.is_object());
    const json& port0 = s["universes"][0];
    EXPECT_EQ(s["network"]["interfaces"][0]["joined"], json::array({1, 2, 64214})) << "on loopback";
    EXPECT_EQ(port0["label"], "sACN 1");
    ASSERT_EQ(port0["sources"].size(), 1u) << s.dump();
    EXPECT_EQ(port0["sources"][0]["name"], "Desk 7");
    EXPECT_EQ(port0["sources"][0]["cid"], "07070707-0707-0707-0707-070707070707");
    EXPECT_EQ(port0["sources"][0]["address"], "127.0.0.1");
    EXPECT_EQ(port0["levels"][100], 100);
    EXPECT_EQ(s["universes"][2]["label"], "Art-Net 0:0:1");
    EXPECT_EQ(s["unmapped"]["sacn"][0]["universe"], 9);
    EXPECT_EQ(s["unmapped"]["artnet"][0]["label"], "0:0:0");
    EXPECT_NE(s["unmapped"]["artnet"][0]["near"].get<std::string>().find(
                  "one away from Art-Net 0:0:1 on port 5"),
              std::string::npos);
    EXPECT_EQ(Get("/healthz").status, 200);
    driver.Receive(milliseconds(300), 0);
    EXPECT_EQ(driver.store[511], 255) << "the levels reached the driver";

    const Reply page = Get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>lxdravik-bridge</title>"), std::string::npos);
    // The page answers to its own names and addresses only, and to its own
    // page's scripts: no other site reads it (DNS rebinding, another page in
    // the operator's browser).
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    const std::string own = "Host: 127.0.0.1:8250\r\n";
    const std::string status = "GET /status.json HTTP/1.1\r\n";
    const struct {
        std::string request;
        int status;
        bool data;  // the answer carries the status
    } requests[] = {
        {"GET /nothing HTTP/1.1\r\n" + own + "\r\n", 404, false},
        {"POST / HTTP/1.1\r\n" + own + "Content-Length: 0\r\n\r\n", 405, false},
        {"GET / HTTP/1.1\r\n" + own + "X: " + std::string(20000, 'x') + "\r\n\r\n", 431, false},
        {"\x16\x03\x01 not http at all\r\n\r\n", 400, false},
        {"HEAD /status.json HTTP/1.1\r\n" + own + "\r\n", 200, false},
        {status + "Host: localhost:8250\r\n\r\n", 200, true},
        {status + "Host: " + name + "\r\n\r\n", 200, true},
        {status + "Host: 127.0.0.1\r\nOrigin: http://127.0.0.1:8250\r\n\r\n", 200, true},
        {status + "Host: rebound.example:8250\r\n\r\n", 421, false},
        {status + "Host: 127.0.0.1:8251\r\n\r\n", 421, false},
        {status + "Host: 127.0.0.2:8250\r\n\r\n", 421, false},
        {status + own + "Origin: http://other.example\r\n\r\n", 403, false},
        {status + own + "Origin: http://127.0.0.1:8251\r\n\r\n", 403, false},
        {status + own + "Origin: null\r\n\r\n", 403, false},
    };
    for (const auto& r : requests) {
        const Reply reply = Exchange(r.request);
        EXPECT_EQ(reply.status, r.status) << r.request.substr(0, 60);
        EXPECT_EQ(reply.body.find("\"universes\"") != std::string::npos, r.data)
            << r.request.substr(0, 60) << reply.body.substr(0, 60);
    }
    bridge->Interrupt();
    EXPECT_EQ(bridge->Finish(milliseconds(5000)).exitCode, 0);

    // A driver that cannot be reached while a source is live: unhealthy.
    bridge = StartBridge(
        {"--sacn", "1", "--http", kPageAddress, "--to", "192.0.2.1:2501", "--duration", "20"});
    ASSERT_NE(bridge, nullptr);
    Reply health;
    for (int i = 0; i < 40 && health.status != 503; ++i) {
        console.Sacn(1, ramp);
        std::this_thread::sleep_for(milliseconds(100));
        health = Get("/healthz");
    }
    EXPECT_EQ(health.status, 503);
    EXPECT_EQ(health.body, "sources are live but nothing has reached the driver\n");
}

TEST(BridgeStatusPage, AFloodOfIdleConnectionsLeavesForwardingUntouched) {
    if (!EnterPrivateNetwork(true)) {
        GTEST_SKIP() << "needs root for a network namespace of its own";
    }
    Driver driver;
    auto bridge = StartBridge(
        {"--sacn", "1", "--http", kPageAddress, "--to", kDriverAddress, "--duration", "30"});
    ASSERT_NE(bridge, nullptr);
    Console console;
    // 100 connections that never finish a request; the server keeps a few.
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i) {
        if (const int fd = Connect(kPage); fd >= 0) {
            send(fd, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
            idle.push_back(fd);
        }
    }
    std::this_thread::sleep_for(milliseconds(300));
    int closed = 0;
    for (const int fd : idle) {
        closed += Closed(fd) ? 1 : 0;
    }
    EXPECT_GE(closed, 100 - 16) << "at most 16 connections from one address are kept";
    constexpr int kPackets = 200;
    for (int i = 0; i < kPackets; ++i) {
        console.Sacn(1, Bytes(512, static_cast<std::uint8_t>(i)));
        std::this_thread::sleep_for(milliseconds(5));
    }
    driver.Receive(milliseconds(2500), 0);  // past the sampling of new sources
    EXPECT_EQ(driver.store[0], kPackets - 1) << "the last levels reached the driver";
    closed = 0;
    for (const int fd : idle) {
        closed += Closed(fd) ? 1 : 0;
        close(fd);
    }
    EXPECT_EQ(closed, 100) << "the open handshake times out";
    const json s = StatusWhen([](const json& s) { return s["universes"][0]["packets"] > 0; });
    EXPECT_EQ(s["universes"][0]["packets"], kPackets) << "every packet was taken";
    EXPECT_EQ(s["universes"][0]["drops"], 0);
}

// The most memory a process has held (VmHWM), in KiB.
[[maybe_unused]] long PeakKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("VmHWM:", 0) != 0) {
    }
    return std::atol(line.c_str() + std::min<std::size_t>(line.size(), 6));
}

// WebSockets: the page's own only, 8 from one address and 16 in all while
// /healthz answers; a flood of pings never read is cut off while the levels
// flow; sockets that answer no ping are closed.
TEST(BridgeStatusPage, WebSocketsAreBoundedInNumberQueueAndTime) {
    if (!EnterPrivateNetwork(true)) {
        GTEST_SKIP() << "needs root for a network namespace of its own";
    }
    Driver driver;
    auto bridge = StartBridge(
        {"--sacn", "1", "--http", kPageAddress, "--to", kDriverAddress, "--duration", "40"});
    ASSERT_NE(bridge, nullptr);
    int fd = -1;
    EXPECT_EQ(OpenSocket(fd, "Host: localhost:8250\r\nOrigin: http://other.example\r\n"), 403);
    EXPECT_EQ(OpenSocket(fd, "Host: rebound.example:8250\r\n"), 421);
    const struct {
        const char* from;
        int tries, open;
    } clients[] = {{"127.0.0.1", 32, 8}, {"127.0.0.2", 10, 8}, {"127.0.0.3", 4, 0}};
    std::vector<int> open;
    for (const auto& c : clients) {
        for (int i = 0; i < c.tries; ++i) {
            const int status = OpenSocket(fd, "Host: localhost:8250\r\n", c.from);
            EXPECT_EQ(status, i < c.open ? 101 : 503) << c.from << " " << i;
            if (status == 101) {
                open.push_back(fd);
            }
        }
    }
    EXPECT_EQ(Get("/healthz").status, 200);
    // 127.0.0.2's go; from there, empty pings (masked, as a client's) for
    // 10 s, and nothing read.
    std::for_each(open.begin() + 8, open.end(), close);
    open.resize(8);
    std::string pings;
    for (int i = 0; i < 4000; ++i) {
        pings.append("\x89\x80\0\0\0\0", 6);
    }
    std::atomic<bool> stop{false};
    int cutOff = 0;
    std::thread flood([&] {
        while (!stop) {
            int s = -1;
            if (OpenSocket(s, "Host: 127.0.0.1:8250\r\n", "127.0.0.2") == 101) {
                while (!stop && send(s, pings.data(), pings.size(), MSG_NOSIGNAL) > 0) {
                }
                cutOff += stop ? 0 : 1;
                close(s);
            }
        }
    });
    Console console;
    std::uint8_t level = 0;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         std::chrono::steady_clock::now() < end;) {
        console.Sacn(1, Bytes(512, ++level));
        driver.Receive(milliseconds(25), 0);
    }
    stop = true;
    flood.join();
    driver.Receive(milliseconds(200), 0);
    EXPECT_EQ(driver.store[0], level) << "the levels went on";
    EXPECT_GT(cutOff, 0);
#if !defined(__SANITIZE_ADDRESS__)  // whose quarantine keeps freed memory by the hundred MiB
    EXPECT_LT(PeakKib(bridge->Pid()), 64 << 10);
#endif
    // The idle ones did not answer the ping at 10 s within 5 s.
    for (int i = 0; i < 100 && !std::all_of(open.begin(), open.end(), Closed); ++i) {
        std::this_thread::sleep_for(milliseconds(100));
    }
    EXPECT_TRUE(std::all_of(open.begin(), open.end(), Closed));
    std::for_each(open.begin(), open.end(), close);
}

TEST(BridgeStatusPage, APageThatCannotListenYetIsTriedAgainWhileTheLevelsFlow) {
    if (!EnterPrivateNetwork(true)) {
        GTEST_SKIP() << "needs root for a network namespace of its own";
    }
    Driver driver;
    auto bridge =
        StartBridge({"--sacn", "1", "--http", "10.9.9.9:8250", "--to", kDriverAddress, "--json"});
    ASSERT_NE(bridge, nullptr);
    EXPECT_TRUE(
        bridge->WaitForError("cannot serve the status page on 10.9.9.9:8250: Cannot assign "
                             "requested address; trying again every 3 s",
                             milliseconds(1000)));
    Console console;
    for (int i = 0; i < 100 && driver.store[0] != 7; ++i) {
        console.Sacn(1, Bytes(512, 7));
        driver.Receive(milliseconds(50), 0);
    }
    EXPECT_EQ(driver.store[0], 7) << "the levels flow without the page";
    ASSERT_EQ(RunProcess({"/usr/sbin/ip", "addr", "add", "10.9.9.9/32", "dev", "lo"}).exitCode, 0);
    ASSERT_TRUE(
        bridge->WaitForError("status page on http://10.9.9.9:8250/ (after", milliseconds(5000)));
    EXPECT_EQ(Exchange("GET /healthz HTTP/1.1\r\nHost: 10.9.9.9:8250\r\n\r\n", "10.9.9.9").status,
              200);
    bridge->Interrupt();
    const ProcessResult run = bridge->Finish(milliseconds(5000));
    EXPECT_EQ(run.exitCode, 0);
    const json page = json::parse(run.out, nullptr, false)["page"];
    EXPECT_EQ(page["listening"], true) << run.out;
    EXPECT_NE(page["error"].get<std::string>().find("Cannot assign"), std::string::npos);
}

TEST(BridgeConfigReload, OneUniverseChangesWhileTheOtherKeepsItsLevels) {
    if (!EnterPrivateNetwork(true)) {
        GTEST_SKIP() << "needs root for a network namespace of its own";
    }
    const std::string dir = MakeTempDirectory();
    const std::string config = dir + "/bridge.toml";
    auto write = [&](const std::string& text) { std::ofstream(config) << text; };
    write("sacn = [\"1-2\"]\nto = \"" + kDriverAddress + "\"\nhttp = \"" + kPageAddress + "\"\n");
    Driver driver;
    auto bridge = StartBridge({"--config", config, "--duration", "30"});
    ASSERT_NE(bridge, nullptr);
    Console console;
    json s = StatusWhen([&](const json& s) {
        console.Sacn(1, Bytes(512, 11));
        console.Sacn(2, Bytes(512, 22));
        return s["universes"][0]["levels"][0] == 11 && s["universes"][1]["levels"][0] == 22;
    });
    ASSERT_EQ(s["universes"][1]["levels"][0], 22) << s.dump();
    std::this_thread::sleep_for(milliseconds(600));  // a snapshot after the last packet
    const auto packets = Status()["universes"][0]["packets"];

    write("sacn = [\"1,3\"]\nto = \"" + kDriverAddress + "\"\nhttp = \"" + kPageAddress + "\"\n");
    bridge->Hangup();
    ASSERT_TRUE(bridge->WaitForError("reloaded " + config, milliseconds(5000)));
    // Universe 1 keeps its source and levels and is refreshed without a gap.
    const milliseconds gap = driver.Receive(milliseconds(1500), 0);
    EXPECT_LT(gap.count(), 1000);
    EXPECT_EQ(driver.store[0], 11);
    EXPECT_EQ(driver.store[512], 0) << "port 1 now follows universe 3, which has sent nothing";
    s = Status();
    EXPECT_EQ(s["universes"][0]["packets"], packets);
    EXPECT_EQ(s["universes"][0]["levels"][0], 11);
    EXPECT_EQ(s["universes"][0]["sources"].size(), 1u);
    EXPECT_EQ(s["universes"][1]["label"], "sACN 3");

    // A broken file changes nothing.
    write("sacn = [\"1,4\"]\nbogus = 1\n");
    bridge->Hangup();
    EXPECT_TRUE(bridge->WaitForError(config + ":2: bogus: unknown key", milliseconds(5000)));
    EXPECT_EQ(Status()["universes"][1]["label"], "sACN 3");
    bridge->Interrupt();
    const ProcessResult run = bridge->Finish(milliseconds(5000));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("reload failed, the running configuration stays"), std::string::npos);
    EXPECT_NE(run.err.find("port 1 (sACN 2): source \"Desk 1\" from 127.0.0.1"), std::string::npos)
        << "a source that appears is one line";
    std::remove(config.c_str());
    std::remove(dir.c_str());
}

// A reload never holds the levels up on DNS: one that keeps `to` resolves
// nothing, and a new host name for `to` is resolved off the event loop, the
// levels going on to the old address meanwhile. The bridge's name service is
// the test's: a hosts file it edits, and a DNS server on loopback that never
// answers (each lookup there takes 2 s, twice where the machine has a domain
// to search).
TEST(BridgeConfigReload, TheLevelsNeverWaitForTheDriversName) {
    if (!EnterPrivateNetwork(true) || access("/usr/bin/unshare", X_OK) != 0) {
        GTEST_SKIP() << "needs root and unshare for namespaces of its own";
    }
    const int dns = Socket(SOCK_DGRAM);
    sockaddr_in at = Loopback(53);
    at.sin_addr.s_addr = htonl(0x7F000035);
    ASSERT_EQ(bind(dns, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    const std::string dir = MakeTempDirectory();
    auto write = [&](const std::string& file, const std::string& text) {
        std::ofstream(dir + "/" + file) << text;
    };
    write("resolv.conf", "nameserver 127.0.0.53\noptions timeout:2 attempts:1\n");
    write("nsswitch.conf", "hosts: files dns\n");
    write("hosts", "127.0.0.1 localhost lxd-driver\n");
    write("bridge.toml",
          "sacn = [\"1\"]\nto = \"lxd-driver:2601\"\nhttp = \"" + kPageAddress + "\"\n");
    Driver driver;
    ChildProcess bridge;
    ASSERT_TRUE(bridge.Start({"/usr/bin/unshare", "-m", "sh", "-c",
                              "for f in hosts resolv.conf nsswitch.conf; do mount --bind "
                              "\"$0/$f\" /etc/$f || exit 1; done; exec \"$@\"",
                              dir, kBridge, "--config", dir + "/bridge.toml", "--duration", "20"}));
    ASSERT_TRUE(bridge.WaitForError("status page on", milliseconds(10000)));
    Console console;
    StatusWhen([&](const json& s) {
        console.Sacn(1, Bytes(512, 11));
        return s["universes"][0]["levels"][0] == 11;
    });
    write("hosts", "127.0.0.1 localhost\n");  // from now on lxd-driver takes 2 s, in vain
    for (const char* config : {"sacn = [\"1,2\"]\nto = \"lxd-driver:2601\"\n",
                               "sacn = [\"1,2\"]\nto = \"lxd-elsewhere:2601\"\n"}) {
        write("bridge.toml", config);
        bridge.Hangup();
        EXPECT_LT(driver.Receive(milliseconds(2500), 0).count(), 1000) << config;
        EXPECT_EQ(driver.store[0], 11);
    }
    EXPECT_TRUE(
        bridge.WaitForError("reload: cannot resolve lxd-elsewhere:2601", milliseconds(9000)));
    EXPECT_LT(driver.Receive(milliseconds(1500), 0).count(), 1000);
    bridge.Interrupt();
    const ProcessResult run = bridge.Finish(milliseconds(5000));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("reload failed"), std::string::npos) << run.err;
    close(dns);
}

}  // namespace
}  // namespace lxd::test
