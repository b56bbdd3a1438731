// The bridge's path for sACN over loopback: receive, parse, merge, code and
// send one packet (Network::DrainSacn on a queued packet, one block packet
// out) against a bare relay (recvfrom and sendto of the same bytes), and one
// frame of 36 universes, against the floor of any receiver (recvmmsg of the
// same frame, nothing sent) and as universes nobody maps. Thread CPU time,
// fastest repetition; allocations in the bridge's path fail the run. Then
// input-to-driver latency: consoles send 36 universes at 44 Hz (one console,
// or two merged) to the bridge running its own event loop on a thread, to a
// bare relay and to a drain, in turn; a receiver stands for the driver. The
// same stream of unmapped universes, and by multicast (36 mapped among 300
// sent). And the same latency while a flood of ArtPoll (10,000 a second from
// eight pollers) reaches a bridge that maps Art-Net too, against that bridge
// without the flood. The program runs in a network namespace of its own
// where it can (root), and the bridge is restricted to lo. Last, whole looks
// (bridge_sync.h): synchronisation bursts, torn reads at a host reading the
// real driver, and the synchronisation's delays.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/bridge_sync.h"
#include "bench/min_statistic.h"
#include "bench/thread_clock.h"
#include "intake/datagram.h"
#include "protocol/block_writer.h"
#include "protocol/layout.h"
#include "protocol/pack.h"
#include "tests/support/bridge_packets.h"
#include "tests/support/netns.h"
#include "tools/bridge/net/handler_room.h"
#include "tools/bridge/net/network.h"
#include "tools/bridge/status/json.h"
#include "tools/bridge/status/taker.h"
#include "tools/bridge/web/server.h"
#include "tools/bridge/web/status_cache.h"

namespace {

using lxd::bench::ThreadSeconds;
using Bytes = std::vector<std::uint8_t>;

constexpr int kUniverses = 36;
// Where an sACN data packet's levels start, after the start code.
constexpr std::size_t kFirstLevel = 126;

// A non-blocking UDP socket bound to 127.0.0.1 on a port the system picks.
int LoopbackSocket(sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

// A bridge on its own sockets: the program's receive path, sending to `out`.
struct BridgeUnderTest {
    explicit BridgeUnderTest(asio::io_context& io) : network(io) {}
    lxd::bridge::Network network;
    std::unique_ptr<lxd::bridge::Bridge> bridge;
    sockaddr_in address{};  // where it receives sACN

    bool Open(const char* universes, std::uint16_t outPort) {
        lxd::bridge::Mapping mapping;
        std::string error;
        lxd::bridge::NetworkSettings settings;
        settings.interfaces = {"lo"};
        settings.toPort = outPort;
        settings.sacnPort = 0;
        if (!mapping.Add(lxd::bridge::Protocol::kSacn, universes, error) ||
            !network.Open(settings, mapping, error)) {
            std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
            return false;
        }
        bridge = std::make_unique<lxd::bridge::Bridge>(mapping, true, network);
        network.Start(*bridge);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(network.SacnPort());
        return true;
    }
};

struct Rig {
    asio::io_context io;
    BridgeUnderTest one{io};  // universe 1: one socket, as a single packet finds it
    BridgeUnderTest all{io};  // universes 1-36 (two sockets, for the group limit)
    int out = -1;             // where the bridges and the bare relay send
    int relay = -1;
    int sender = -1;
    sockaddr_in outAddress{}, relayAddress{};
    Bytes packets[kUniverses][2];  // two looks per universe, sent in turn
    int look[kUniverses] = {};
    std::uint8_t sequence = 0;
};

Rig& TheRig() {
    static Rig rig;
    return rig;
}

bool SetUp() {
    Rig& rig = TheRig();
    rig.out = LoopbackSocket(rig.outAddress);
    rig.relay = LoopbackSocket(rig.relayAddress);
    rig.sender = socket(AF_INET, SOCK_DGRAM, 0);
    const std::uint16_t outPort = ntohs(rig.outAddress.sin_port);
    if (rig.out < 0 || rig.relay < 0 || !rig.one.Open("1", outPort) ||
        !rig.all.Open("1-36", outPort)) {
        return false;
    }
    for (int u = 0; u < kUniverses; ++u) {
        for (int look = 0; look < 2; ++look) {
            lxd::test::SacnFields f;
            f.universe = static_cast<std::uint16_t>(u + 1);
            for (int c = 0; c < 512; ++c) {  // a console's look: runs and fades
                f.slots[c] = static_cast<std::uint8_t>(c < 200 ? (c / 16) * 8 + look : look * 90);
            }
            rig.packets[u][look] = f.Build();
        }
    }
    return true;
}

// Sends universe u's other look: its levels always change. As universe
// `first` + u when given.
void SendTo(const sockaddr_in& to, int u, int first = 1) {
    Rig& rig = TheRig();
    rig.look[u] ^= 1;
    Bytes& packet = rig.packets[u][rig.look[u]];
    packet[111] = ++rig.sequence;
    lxd::WriteBig16(&packet[113], static_cast<std::uint32_t>(first + u));
    sendto(rig.sender, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

// The block packets that the levels of 36 sACN packets fill, as many ports
// to one as fit, as the bridge packs them; `packet(u)` is port u's packet.
template <typename PacketOf>
std::vector<Bytes> FrameBlocks(PacketOf packet) {
    std::vector<Bytes> blocks;
    lxd::BlockWriter writer;
    for (int u = 0; u < kUniverses; ++u) {
        const auto start = static_cast<std::uint16_t>(u * lxd::kChannelsPerPort + 1);
        const std::uint8_t* levels = packet(u).data() + kFirstLevel;
        if (!writer.Add(start, levels, lxd::kChannelsPerPort)) {
            blocks.emplace_back(writer.Data(), writer.Data() + writer.Size());
            writer.Reset();
            writer.Add(start, levels, lxd::kChannelsPerPort);
        }
    }
    blocks.emplace_back(writer.Data(), writer.Data() + writer.Size());
    return blocks;
}

// Sends `count` of `blocks` from the `first` on (round the end to the
// start) from `fd` to `to` with one sendmmsg; returns those sent.
int SendBlocks(int fd, const sockaddr_in& to, const std::vector<Bytes>& blocks, std::size_t first,
               std::size_t count) {
    mmsghdr messages[kUniverses] = {};
    iovec parts[kUniverses];
    const auto n = static_cast<unsigned>(std::min<std::size_t>(count, kUniverses));
    for (unsigned i = 0; i < n; ++i) {
        const Bytes& block = blocks[(first + i) % blocks.size()];
        parts[i] = {const_cast<std::uint8_t*>(block.data()), block.size()};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
        messages[i].msg_hdr.msg_namelen = sizeof to;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    return sendmmsg(fd, messages, n, 0);
}

// Reads what arrived at the output; returns the number of datagrams.
int Collect() {
    std::uint8_t buffer[1500];
    int n = 0;
    while (recv(TheRig().out, buffer, sizeof buffer, 0) > 0) {
        ++n;
    }
    return n;
}

void BridgePacket(benchmark::State& state) {
    Rig& rig = TheRig();
    for (auto _ : state) {
        SendTo(rig.one.address, 0);
        const double start = ThreadSeconds();
        const int received = rig.one.network.DrainSacn();
        state.SetIterationTime(ThreadSeconds() - start);
        if (received != 1 || Collect() != 1) {
            state.SkipWithError("the packet was not relayed");
            break;
        }
    }
}

void BarePacket(benchmark::State& state) {
    Rig& rig = TheRig();
    std::uint8_t buffer[1500];
    for (auto _ : state) {
        SendTo(rig.relayAddress, 0);
        const double start = ThreadSeconds();
        sockaddr_in from;
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(rig.relay, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
        sendto(rig.relay, buffer, static_cast<std::size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&rig.outAddress), sizeof rig.outAddress);
        state.SetIterationTime(ThreadSeconds() - start);
        if (n <= 0 || Collect() != 1) {
            state.SkipWithError("the packet was not relayed");
            break;
        }
    }
}

// The same packet's parse, merge and coding without sockets: what the bridge
// adds to the system calls.
struct NullSink : lxd::bridge::DatagramSink {
    bool Send(const std::uint8_t*, std::size_t) override { return true; }
};

// Universe 1's other look, one packet an iteration: parse, merge, code.
void OnePacketEach(benchmark::State& state, lxd::bridge::Bridge& bridge) {
    Rig& rig = TheRig();
    const lxd::bridge::Millis now{0};
    const std::uint64_t before = bridge.Output().Datagrams();
    for (auto _ : state) {
        rig.look[0] ^= 1;
        Bytes& packet = rig.packets[0][rig.look[0]];
        packet[111] = ++rig.sequence;
        bridge.OnSacn(packet.data(), packet.size(), now);
        bridge.Flush(now);
    }
    if (bridge.Output().Datagrams() - before != static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("not every packet was sent");
    }
}

void BridgeWithoutSockets(benchmark::State& state) {
    NullSink sink;
    lxd::bridge::Mapping mapping;
    std::string error;
    mapping.Add(lxd::bridge::Protocol::kSacn, "1-36", error);
    lxd::bridge::Bridge bridge(mapping, true, sink);
    OnePacketEach(state, bridge);
}

// The same with 36 ports each fed by two routes: sACN universe p+1 and, at
// the same priority, Art-Net port-address p (a live backup at blackout, so
// that the port's levels and their coding are the same as with one route):
// each packet merges two inputs channel by channel.
void BridgeWithoutSocketsTwoRoutes(benchmark::State& state) {
    NullSink sink;
    lxd::bridge::Mapping mapping;
    std::string error;
    for (int p = 0; p < kUniverses; ++p) {
        for (const std::string& from :
             {"sacn " + std::to_string(p + 1), "artnet " + std::to_string(p)}) {
            lxd::bridge::Route route;
            lxd::bridge::ParseInput(from, route.from, error);
            route.port = static_cast<std::uint8_t>(p);
            route.priority = 100;
            mapping.AddRoute(route, error);
        }
    }
    lxd::bridge::Bridge bridge(mapping, true, sink);
    struct NoReplies : lxd::bridge::ReplySink {
        std::uint32_t OwnAddressFor(std::uint32_t) override { return 0; }
        void Reply(std::uint32_t, const std::uint8_t*, std::size_t) override {}
    } replies;
    lxd::bridge::Millis now{0};
    for (int p = 0; p < kUniverses; ++p) {
        lxd::test::ArtDmxFields dmx;
        dmx.portAddress = static_cast<std::uint16_t>(p);
        const Bytes packet = dmx.Build();
        bridge.OnArtnet(packet.data(), packet.size(), 0x7F000002, now, replies);
    }
    bridge.Flush(now);
    OnePacketEach(state, bridge);
}

// One console frame: all 36 universes queued, drained, sent four to a datagram.
void BridgeFrame(benchmark::State& state) {
    Rig& rig = TheRig();
    for (auto _ : state) {
        for (int u = 0; u < kUniverses; ++u) {
            SendTo(rig.all.address, u);
        }
        const double start = ThreadSeconds();
        const int received = rig.all.network.DrainSacn();
        state.SetIterationTime(ThreadSeconds() - start);
        if (received != kUniverses || Collect() != kUniverses / 4) {
            state.SkipWithError("the frame was not relayed");
            break;
        }
    }
}

// What a drain takes datagrams into: 64 buffers, one recvmmsg fills them.
struct DrainBuffers {
    DrainBuffers() {
        for (int i = 0; i < 64; ++i) {
            parts[i] = {buffers[i], sizeof buffers[i]};
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
    }
    int Take(int fd, int flags) { return recvmmsg(fd, messages, 64, flags, nullptr); }
    // Takes what is queued, without waiting; returns the number taken.
    int TakeAll(int fd) {
        int taken = 0;
        for (int n = 64; n == 64;) {
            n = Take(fd, MSG_DONTWAIT);
            taken += std::max(n, 0);
        }
        return taken;
    }

    std::uint8_t buffers[64][1500];
    iovec parts[64];
    mmsghdr messages[64] = {};
};

// The floor for a frame: its 36 packets taken by recvmmsg (up to 64 a call,
// without their senders), nothing sent.
void DrainFrame(benchmark::State& state) {
    Rig& rig = TheRig();
    static DrainBuffers drain;
    for (auto _ : state) {
        for (int u = 0; u < kUniverses; ++u) {
            SendTo(rig.relayAddress, u);
        }
        const double start = ThreadSeconds();
        const int received = drain.TakeAll(rig.relay);
        state.SetIterationTime(ThreadSeconds() - start);
        if (received != kUniverses) {
            state.SkipWithError("the frame was not received");
            break;
        }
    }
}

// The floor of a forwarder for a frame: the drain, and the frame's 9 block
// packets (built once) sent with one sendmmsg.
void ForwardFrame(benchmark::State& state) {
    Rig& rig = TheRig();
    static DrainBuffers drain;
    const std::vector<Bytes> blocks =
        FrameBlocks([&rig](int u) -> const Bytes& { return rig.packets[u][0]; });
    for (auto _ : state) {
        for (int u = 0; u < kUniverses; ++u) {
            SendTo(rig.relayAddress, u);
        }
        const double start = ThreadSeconds();
        const int received = drain.TakeAll(rig.relay);
        const int sent = SendBlocks(rig.relay, rig.outAddress, blocks, 0, blocks.size());
        state.SetIterationTime(ThreadSeconds() - start);
        if (received != kUniverses || sent != kUniverses / 4 || Collect() != sent) {
            state.SkipWithError("the frame was not forwarded");
            break;
        }
    }
}

// A frame of 36 universes that the bridge does not map, by unicast: each is
// dropped after its universe number is read. (The bridge of universe 1: two
// sockets to read, the unicast one and lo's.)
void UnmappedFrame(benchmark::State& state) {
    Rig& rig = TheRig();
    const std::uint64_t before = rig.one.bridge->Sacn().unmapped;
    for (auto _ : state) {
        for (int u = 0; u < kUniverses; ++u) {
            SendTo(rig.one.address, u, 101);
        }
        const double start = ThreadSeconds();
        const int received = rig.one.network.DrainSacn();
        state.SetIterationTime(ThreadSeconds() - start);
        if (received != kUniverses || Collect() != 0) {
            state.SkipWithError("the frame was not dropped");
            break;
        }
    }
    if (rig.one.bridge->Sacn().unmapped - before !=
        static_cast<std::uint64_t>(state.iterations()) * kUniverses) {
        state.SkipWithError("not every packet was counted as unmapped");
    }
}

// Allocations in the bridge's path, after a first round that warms it up.
std::uint64_t PathAllocations() {
    Rig& rig = TheRig();
    std::uint64_t made = 0;
    for (int round = 0; round < 200; ++round) {
        for (int u = 0; u < kUniverses; ++u) {
            SendTo(rig.all.address, u);
        }
        const std::uint64_t before = lxd::bench::Allocations();
        rig.all.network.DrainSacn();
        rig.all.bridge->Tick(lxd::host::NowMillis());
        made += round > 0 ? lxd::bench::Allocations() - before : 0;
        Collect();
    }
    return made;
}

// Input-to-driver latency. Each console frame carries its number in the first
// two levels of every universe; the driver's stand-in reads it back from the
// levels that arrive and looks up when that frame left.
constexpr int kFrames = 1024;      // frame numbers kept (a run sends fewer)
constexpr double kFrameRate = 44;  // frames a second per console
// A page reader's pause between two answers of /status.json.
constexpr std::chrono::milliseconds kReadPause{100};

using lxd::host::Clock;

// What receives the consoles' packets.
enum class Path {
    kBridge,  // the bridge on its event loop, sending to the driver's stand-in
    kRelay,   // a bare relay: recvfrom and sendto of each packet
    kDrain,   // the floor: recvmmsg of up to 64 a call, and nothing sent
    // The floor of any forwarder: the drain, and after each call the block
    // packets that what it took fills (four universes to one, a frame's nine
    // in all, built once), sent with one sendmmsg. No parsing, no merging,
    // no coding: only the kernel's cost of taking a frame and handing the
    // driver its blocks.
    kForward,
};

// The most universes a console sends.
constexpr int kMostSent = 300;

struct LatencyRun {
    const char* name;
    int consoles;  // 1: 1,584 packets/s; 2: 3,168 (the second a backup at the same priority)
    Path path;
    double warmUp;  // seconds sent before measuring (the bridge's sampling and wait)
    double seconds;
    int readers = 0;        // status pages open on the bridge meanwhile
    bool uncached = false;  // /status.json written for each request, on the event loop
    int polls = 0;          // ArtPoll a second sent to the bridge meanwhile
    int rig = 0;            // 1: the bridge that maps Art-Net too
    // The universes a console sends: `sent` (0: those the bridge maps) from
    // `first` (those the bridge maps start at 1), by unicast or to their
    // multicast groups.
    int sent = 0;
    int first = 1;
    bool multicast = false;
};

// The status page on the bridge's event loop, wired as the program's runner
// wires it: a snapshot every 500 ms into the page's cache (which writes the
// JSON on a thread of its own), the WebSockets' levels read from the ports'
// merged levels at each push. `uncached` writes the JSON for each request
// instead.
struct PageOnTheLoop : lxd::bridge::WebSource {
    PageOnTheLoop(asio::io_context& io, lxd::bridge::Bridge& bridge, lxd::bridge::Network& network)
        : bridge(bridge), network(network), server(io, *this), timer(io) {}

    lxd::bridge::Snapshot Take(lxd::bridge::SnapshotTaker& taker) {
        return taker.Take(bridge, network.Status(), {}, lxd::host::NowMillis());
    }
    // Every 500 ms while `on`: the page's work stays out of the other runs.
    void Update() {
        latest = Take(status);
        cache.Post(latest);
        timer.expires_after(std::chrono::milliseconds(500));
        timer.async_wait([this](asio::error_code ec) {
            if (!ec && on) {
                Update();
            }
        });
    }
    std::shared_ptr<const std::string> StatusJson() override {
        return uncached ? std::make_shared<const std::string>(lxd::bridge::StatusJson(latest))
                        : cache.Json();
    }
    lxd::bridge::WebReply Health() override { return cache.Health(); }
    bool Levels(int port, std::uint8_t* out) override {
        return lxd::bridge::ReadPortLevels(bridge, port, out);
    }

    lxd::bridge::Bridge& bridge;
    lxd::bridge::Network& network;
    lxd::bridge::SnapshotTaker status;
    lxd::bridge::Snapshot latest;
    lxd::bridge::StatusCache cache;
    lxd::bridge::WebServer server;
    asio::steady_timer timer;
    std::atomic<bool> uncached{false};
    std::atomic<bool> on{false};
};

// One reader of the status page, as a browser with it open: a WebSocket that
// gets port 0's levels, and /status.json asked for again and again, each
// answer read to its end first. Counts the answers.
void ReadPage(std::uint16_t port, const std::atomic<bool>& stop,
              std::atomic<std::uint64_t>& answers) {
    sockaddr_in page{};
    page.sin_family = AF_INET;
    page.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    page.sin_port = htons(port);
    auto open = [&page] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        connect(fd, reinterpret_cast<const sockaddr*>(&page), sizeof page);
        return fd;
    };
    const int levels = open();
    const std::string hello =
        "GET /levels HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
        "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\n\r\n" +
        std::string(
            "\x81\x81\0\0\0\0"
            "0",
            7);  // port 0, masked with zeros
    send(levels, hello.data(), hello.size(), MSG_NOSIGNAL);
    fcntl(levels, F_SETFL, O_NONBLOCK);
    const std::string request = "GET /status.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    char buffer[16384];
    while (!stop) {
        while (recv(levels, buffer, sizeof buffer, 0) > 0) {
        }
        const int fd = open();
        std::size_t got = 0;
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                got += static_cast<std::size_t>(n);
            }
        }
        close(fd);
        answers += got > 1000 ? 1 : 0;
        std::this_thread::sleep_for(kReadPause);
    }
    close(levels);
}

// In the multicast runs, which set 36 universes alone against 36 among 300,
// the wire's side (the sender and the driver's stand-in) runs on one core and
// the receiver on another, when the machine has two: left to the scheduler,
// a receiver woken by a sender busy with 264 more datagrams a frame is pulled
// onto the sender's core and the two take turns a datagram at a time, which
// measures the scheduler and not what the receiver is handed. The other runs
// leave every thread to the scheduler (kAnyCore), the same for each path.
constexpr int kWireCore = 0, kReceiverCore = 1, kAnyCore = -1;
void PinTo(pthread_t thread, int core) {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    if (cores < 2) {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int c = 0; c < cores; ++c) {
        if (core == kAnyCore || c == core) {
            CPU_SET(c, &set);
        }
    }
    pthread_setaffinity_np(thread, sizeof set, &set);
}

struct LatencyResult {
    double p50 = 0, p99 = 0;  // microseconds
    // Nanoseconds of the receiving thread per packet sent to it (of the
    // universes the bridge maps, when it maps some of those sent).
    double cpuPerPacket = 0;
    std::uint64_t taken = 0;  // datagrams the bridge or the drain took while measuring
    std::uint64_t samples = 0, packets = 0, allocations = 0;
    std::uint64_t answers = 0;             // /status.json answers read while measuring
    std::uint64_t polls = 0, replies = 0;  // ArtPoll sent, ArtPollReply received
    std::uint64_t forwarded = 0;           // block packets the forwarder's floor sent
};

class LatencyRig {
  public:
    // A bridge of `universes` sACN universes from 1 on ports 0.., and with
    // `artnet` (a --artnet list) Art-Net on the ports after them.
    explicit LatencyRig(int universes = kUniverses, const char* artnet = nullptr)
        : universes_(universes), artnet_(artnet) {
        sender_ = socket(AF_INET, SOCK_DGRAM, 0);
        driver_ = LoopbackSocket(driverAddress_);
        const int blocking = fcntl(driver_, F_GETFL) & ~O_NONBLOCK;
        fcntl(driver_, F_SETFL, blocking);
        const timeval wait{0, 100000};
        setsockopt(driver_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        relay_ = LoopbackSocket(relayAddress_);
        fcntl(relay_, F_SETFL, blocking);
        setsockopt(relay_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        drain_ = LoopbackSocket(drainAddress_);
        fcntl(drain_, F_SETFL, blocking);
        setsockopt(drain_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const in_addr loopback{htonl(INADDR_LOOPBACK)};
        setsockopt(sender_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
        for (int c = 0; c < 2; ++c) {
            for (int u = 0; u < kMostSent; ++u) {
                lxd::test::SacnFields f;
                f.universe = static_cast<std::uint16_t>(u + 1);
                f.cidByte = static_cast<std::uint8_t>(0x40 + c);
                for (int i = 2; i < 512; ++i) {
                    f.slots[i] = static_cast<std::uint8_t>(c == 0 ? (i / 16) * 8 : 30);
                }
                packets_[c][u] = f.Build();
            }
        }
        frameBlocks_ = FrameBlocks([this](int u) -> const Bytes& { return packets_[0][u]; });
        latencies_.reserve(1 << 20);
    }

    bool OpenBridge() {
        lxd::bridge::Mapping mapping;
        std::string error;
        lxd::bridge::NetworkSettings settings;
        settings.interfaces = {"lo"};
        settings.toPort = ntohs(driverAddress_.sin_port);
        settings.sacnPort = 0;
        settings.artnetPort = 0;
        if (!mapping.Add(lxd::bridge::Protocol::kSacn, "1-" + std::to_string(universes_), error) ||
            (artnet_ != nullptr && !mapping.Add(lxd::bridge::Protocol::kArtnet, artnet_, error)) ||
            !network_.Open(settings, mapping, error)) {
            std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
            return false;
        }
        const lxd::bridge::NetworkStatus& status = network_.Status();
        if (status.interfaces.size() != 1 || status.interfaces[0].name != "lo") {
            std::fprintf(stderr, "the bridge would use more than lo: not run\n");
            return false;
        }
        bridge_ = std::make_unique<lxd::bridge::Bridge>(mapping, true, network_);
        bridgeAddress_.sin_family = AF_INET;
        bridgeAddress_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bridgeAddress_.sin_port = htons(network_.SacnPort());
        artnetAddress_ = bridgeAddress_;
        artnetAddress_.sin_port = htons(network_.ArtnetPort());
        bridge_->Listen(lxd::host::NowMillis());
        network_.Start(*bridge_);
        Tick();
        page_ = std::make_unique<PageOnTheLoop>(io_, *bridge_, network_);
        if (!page_->server.Listen("127.0.0.1:0", error)) {
            std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
            return false;
        }
        bridgeThread_ = std::thread([this] { io_.run(); });
        return true;
    }

    ~LatencyRig() {
        io_.stop();
        if (bridgeThread_.joinable()) {
            bridgeThread_.join();
        }
        page_.reset();
        close(sender_);
        close(driver_);
        close(relay_);
        close(drain_);
    }

    LatencyResult Run(const LatencyRun& run) {
        stop_ = false;
        measuring_ = false;
        latencies_.clear();
        std::fill(std::begin(lastFrame_), std::end(lastFrame_), -1);
        const bool bridge = run.path == Path::kBridge;
        const bool pinned = run.multicast;
        const int wire = pinned ? kWireCore : kAnyCore,
                  receiver = pinned ? kReceiverCore : kAnyCore;
        PinTo(pthread_self(), wire);
        if (bridge) {
            PinTo(bridgeThread_.native_handle(), receiver);
        }
        const bool blocks = bridge || run.path == Path::kForward;
        std::thread driver([this, blocks, bridge] { Drive(blocks, bridge); });
        PinTo(driver.native_handle(), wire);
        std::thread flood;
        std::atomic<std::uint64_t> polls{0}, replies{0};
        if (run.polls > 0) {
            flood = std::thread([&] { Flood(run.polls, polls, replies); });
        }
        std::thread bare;
        std::atomic<std::uint64_t> drained{0}, forwarded{0};
        if (run.path == Path::kRelay) {
            bare = std::thread([this] { Relay(); });
        } else if (run.path == Path::kDrain) {
            bare = std::thread([this, &drained] { Drain(drained); });
        } else if (run.path == Path::kForward) {
            bare = std::thread(
                [this, &drained, &forwarded, &run] { Forward(drained, forwarded, run.consoles); });
        }
        bareThread_ = bare.joinable() ? bare.native_handle() : pthread_t{};
        if (bare.joinable()) {
            PinTo(bareThread_, receiver);
        }
        std::vector<std::thread> readers;
        std::atomic<std::uint64_t> answers{0};
        if (page_ != nullptr && run.readers > 0) {
            page_->uncached = run.uncached;
            page_->on = true;
            asio::post(io_, [this] { page_->Update(); });
        }
        for (int r = 0; r < run.readers && page_ != nullptr; ++r) {
            readers.emplace_back(ReadPage, page_->server.Port(), std::cref(stop_),
                                 std::ref(answers));
        }
        const sockaddr_in& to = bridge                     ? bridgeAddress_
                                : run.path == Path::kRelay ? relayAddress_
                                                           : drainAddress_;
        const int sent = run.sent > 0 ? run.sent : universes_;
        // Counted per packet: those of the universes the bridge maps, or all.
        const int counted = run.first == 1 ? std::min(sent, universes_) : sent;
        std::uint64_t takenBefore = 0;
        const auto start = Clock::now();
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / kFrameRate));
        const int warmFrames = static_cast<int>(run.warmUp * kFrameRate);
        const int frames = warmFrames + static_cast<int>(run.seconds * kFrameRate);
        LatencyResult result;
        for (int f = 0; f < frames; ++f) {
            if (f == warmFrames) {
                takenBefore = bridge ? BridgeDatagrams() : drained.load();
                Mark(bridge, true);
                packetsMeasured_ = 0;
                result.answers = answers;
            }
            packetsMeasured_ += f >= warmFrames ? counted * run.consoles : 0;
            std::this_thread::sleep_until(start + period * f);
            for (int u = 0; u < sent; ++u) {
                const int universe = run.first + u;
                sockaddr_in group = to;
                group.sin_addr.s_addr =
                    htonl(lxd::bridge::SacnMulticastGroup(static_cast<std::uint16_t>(universe)));
                const sockaddr_in& destination = run.multicast ? group : to;
                for (int c = 0; c < run.consoles; ++c) {
                    Bytes& packet = packets_[c][u];
                    packet[111] = static_cast<std::uint8_t>(f);
                    lxd::WriteBig16(&packet[113], static_cast<std::uint32_t>(universe));
                    lxd::WriteBig16(&packet[kFirstLevel],
                                    c == 0 ? static_cast<std::uint32_t>(f) : 0);
                    if (c == 0 && u < kUniverses) {
                        sentAt_[f % kFrames][u] = Clock::now();
                    }
                    sendto(sender_, packet.data(), packet.size(), 0,
                           reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Mark(bridge, false);
        result.taken = (bridge ? BridgeDatagrams() : drained.load()) - takenBefore;
        result.answers = answers - result.answers;
        stop_ = true;
        driver.join();
        for (std::thread& reader : readers) {
            reader.join();
        }
        if (page_ != nullptr) {
            page_->on = false;
        }
        if (flood.joinable()) {
            flood.join();
        }
        result.polls = polls;
        result.replies = replies;
        result.forwarded = forwarded;
        if (bare.joinable()) {
            bare.join();
        }
        std::sort(latencies_.begin(), latencies_.end());
        if (!latencies_.empty()) {
            result.p50 = latencies_[latencies_.size() / 2];
            result.p99 = latencies_[latencies_.size() * 99 / 100];
        }
        result.samples = latencies_.size();
        result.packets = packetsMeasured_;
        result.allocations = allocations_;
        result.cpuPerPacket =
            packetsMeasured_ > 0 ? cpuMeasured_ * 1e9 / static_cast<double>(packetsMeasured_) : 0;
        return result;
    }

  private:
    // Starts or ends the measured stretch: CPU time of the forwarding thread
    // (read from here, so that nothing is handed to it), allocations of the
    // program (the sender, receiver and relay make none).
    void Mark(bool bridge, bool begin) {
        const pthread_t thread = bridge ? bridgeThread_.native_handle() : bareThread_;
        clockid_t clock;
        timespec cpu{};
        if (pthread_getcpuclockid(thread, &clock) == 0) {
            clock_gettime(clock, &cpu);
        }
        const double seconds = static_cast<double>(cpu.tv_sec) + cpu.tv_nsec * 1e-9;
        if (begin) {
            cpuMeasured_ = -seconds;
            allocations_ = lxd::bench::Allocations();
            measuring_ = true;
        } else {
            measuring_ = false;
            cpuMeasured_ += seconds;
            allocations_ = lxd::bench::Allocations() - allocations_;
        }
    }

    // `rate` ArtPoll a second, a burst every 10 ms, from eight pollers on
    // loopback (127.0.0.2 to 127.0.0.9, UDP 6454, where the replies arrive),
    // in turn, until the run stops; counts those sent and the replies while
    // the stretch is measured.
    void Flood(int rate, std::atomic<std::uint64_t>& sent, std::atomic<std::uint64_t>& replies) {
        int pollers[8];
        for (int i = 0; i < 8; ++i) {
            pollers[i] = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_port = htons(lxd::bridge::kArtnetPort);
            from.sin_addr.s_addr = htonl(0x7F000002 + static_cast<std::uint32_t>(i));
            bind(pollers[i], reinterpret_cast<const sockaddr*>(&from), sizeof from);
            fcntl(pollers[i], F_SETFL, O_NONBLOCK);
        }
        const Bytes poll = lxd::test::ArtPollFields{}.Build();
        const auto start = Clock::now();
        std::uint8_t reply[1500];
        for (int burst = 0; !stop_; ++burst) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10) * burst);
            for (int i = 0; i < rate / 100; ++i) {
                sendto(pollers[i % 8], poll.data(), poll.size(), 0,
                       reinterpret_cast<const sockaddr*>(&artnetAddress_), sizeof artnetAddress_);
                sent += measuring_ ? 1 : 0;
            }
            for (const int fd : pollers) {
                while (recv(fd, reply, sizeof reply, 0) > 0) {
                    replies += measuring_ ? 1 : 0;
                }
            }
        }
        for (const int fd : pollers) {
            close(fd);
        }
    }

    void Tick() {
        tick_.expires_after(lxd::bridge::kTickInterval);
        tick_.async_wait([this](asio::error_code ec) {
            if (!ec) {
                bridge_->Tick(lxd::host::NowMillis());
                Tick();
            }
        });
    }

    // The bare relay: recvfrom and sendto of the same bytes to the driver.
    void Relay() {
        std::uint8_t buffer[1500];
        while (!stop_) {
            sockaddr_in from;
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(relay_, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
            if (n > 0) {
                sendto(relay_, buffer, static_cast<std::size_t>(n), 0,
                       reinterpret_cast<const sockaddr*>(&driverAddress_), sizeof driverAddress_);
            }
        }
    }

    // The floor of any receiver: the kernel's own cost of handing over the
    // datagrams, up to 64 a call, without their senders and nothing sent.
    void Drain(std::atomic<std::uint64_t>& drained) {
        static DrainBuffers buffers;
        while (!stop_) {
            const int n = buffers.Take(drain_, MSG_WAITFORONE);
            if (n > 0) {
                drained += static_cast<std::uint64_t>(n);
            }
        }
    }

    // The forwarder's floor: for every `consoles` x 4 datagrams taken, the
    // frame's next block packet, those due after a call as one sendmmsg.
    void Forward(std::atomic<std::uint64_t>& drained, std::atomic<std::uint64_t>& forwarded,
                 int consoles) {
        static DrainBuffers buffers;
        const int perBlock = 4 * consoles;
        int owed = 0;
        std::size_t next = 0;
        while (!stop_) {
            const int n = buffers.Take(drain_, MSG_WAITFORONE);
            if (n <= 0) {
                continue;
            }
            drained += static_cast<std::uint64_t>(n);
            owed += n;
            const std::size_t due = static_cast<std::size_t>(owed / perBlock);
            if (due > 0) {
                const int sent = SendBlocks(drain_, driverAddress_, frameBlocks_, next, due);
                forwarded += static_cast<std::uint64_t>(std::max(sent, 0));
                next += due;
                owed -= static_cast<int>(due) * perBlock;
            }
        }
    }

    // The datagrams the bridge took on its sACN port, read on its own thread
    // by a handler that allocates nothing there (asio's recycled handler
    // memory of that thread stays as the bridge's own handlers leave it).
    std::uint64_t BridgeDatagrams() {
        std::atomic<bool> read{false};
        std::uint64_t count = 0;
        asio::post(io_, asio::bind_allocator(lxd::bridge::RoomAllocator<void>(countRoom_), [&] {
                       count = bridge_->Sacn().datagrams;
                       read = true;
                   }));
        while (!read) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return count;
    }

    // The driver's stand-in: applies block packets to a store (or reads the
    // relayed sACN) and times every frame number that appears on a port.
    void Drive(bool blocks, bool timed) {
        std::uint8_t buffer[1500];
        while (!stop_) {
            const ssize_t n = recv(driver_, buffer, sizeof buffer, 0);
            const auto now = Clock::now();
            if (n <= 0) {
                continue;
            }
            if (blocks) {
                lxd::ApplyDatagram(buffer, static_cast<std::uint32_t>(n), store_,
                                   {nullptr, nullptr, nullptr});
                for (int p = 0; p < universes_ && timed; ++p) {
                    Arrived(p, static_cast<int>(lxd::ReadBig16(&store_[p * lxd::kChannelsPerPort])),
                            now);
                }
            } else if (n > 127 && buffer[22] == 0x40) {  // the first console's CID
                const int u = static_cast<int>(lxd::ReadBig16(buffer + 113)) - 1;
                Arrived(u, static_cast<int>(lxd::ReadBig16(buffer + 126)), now);
            }
        }
    }

    void Arrived(int port, int frame, Clock::time_point now) {
        if (port < 0 || port >= universes_ || frame == lastFrame_[port]) {
            return;
        }
        lastFrame_[port] = frame;
        if (measuring_ && latencies_.size() < latencies_.capacity()) {
            latencies_.push_back(
                std::chrono::duration<double, std::micro>(now - sentAt_[frame % kFrames][port])
                    .count());
        }
    }

    int universes_;
    const char* artnet_;
    asio::io_context io_{1};  // one thread runs it, as the program's
    lxd::bridge::Network network_{io_};
    std::unique_ptr<lxd::bridge::Bridge> bridge_;
    std::unique_ptr<PageOnTheLoop> page_;
    lxd::bridge::HandlerRoom countRoom_;
    asio::steady_timer tick_{io_};
    std::thread bridgeThread_;
    int sender_ = -1, driver_ = -1, relay_ = -1, drain_ = -1;
    sockaddr_in driverAddress_{}, relayAddress_{}, drainAddress_{}, bridgeAddress_{},
        artnetAddress_{};
    Bytes packets_[2][kMostSent];
    std::vector<Bytes> frameBlocks_;  // the forwarder floor's block packets of a frame
    Clock::time_point sentAt_[kFrames][kUniverses];
    std::uint8_t store_[lxd::kStoreSize] = {};
    int lastFrame_[kUniverses];
    std::vector<double> latencies_;
    std::atomic<bool> stop_{false}, measuring_{false};
    pthread_t bareThread_{};
    double cpuMeasured_ = 0;
    std::uint64_t packetsMeasured_ = 0, allocations_ = 0;
};

// Runs the latency table; writes it as JSON to `path` (when given) for
// bench/run.sh. Returns false when a run measured nothing.
bool MeasureLatency(const char* path, bool multicast, const char* only) {
    // The second bridge maps 32 sACN universes (1,408 packets/s) and four
    // Art-Net port-addresses, which it announces to pollers.
    std::unique_ptr<LatencyRig> rigs[] = {std::make_unique<LatencyRig>(),
                                          std::make_unique<LatencyRig>(32, "0:0:0-3@32")};
    if (!rigs[0]->OpenBridge() || !rigs[1]->OpenBridge()) {
        return false;
    }
    // The sources' first packets after a pause wait out the sampling or the
    // new source's 1.5 s: 2 s are sent before each bridge stretch. Besides
    // the latency: the CPU per packet of the bare relay and of the floor (a
    // drain), universes nobody maps sent to the bridge by unicast, and (where
    // multicast reaches lo: as root) the 36 mapped universes by multicast
    // alone and among 300 (the other groups are not joined).
    const Path B = Path::kBridge;
    const LatencyRun all[] = {
        {"bridge/1584", 1, B, 2.0, 3},
        {"bare/1584", 1, Path::kRelay, 0.5, 3},
        {"drain/1584", 1, Path::kDrain, 0.5, 3},
        {"forward/1584", 1, Path::kForward, 0.5, 3},
        {"bridge/3168", 2, B, 2.0, 3},
        {"bare/3168", 2, Path::kRelay, 0.5, 3},
        {"drain/3168", 2, Path::kDrain, 0.5, 3},
        {"forward/3168", 2, Path::kForward, 0.5, 3},
        {"unmapped/1584", 1, B, 0.5, 3, 0, false, 0, 0, kUniverses, 101},
        {"multicast36/1584", 1, B, 2.0, 3, 0, false, 0, 0, kUniverses, 1, true},
        {"multicast300/1584", 1, B, 2.0, 3, 0, false, 0, 0, kMostSent, 1, true},
        {"page8/1584", 1, B, 2.0, 3, 8},
        {"page8_uncached/1584", 1, B, 2.0, 3, 8, true},
        {"artpoll/quiet", 1, B, 2.0, 3, 0, false, 0, 1},
        {"artpoll/flood", 1, B, 2.0, 3, 0, false, 10000, 1},
    };
    std::vector<LatencyRun> runs;
    for (const LatencyRun& run : all) {
        if ((multicast || !run.multicast) && (only == nullptr || std::strstr(only, run.name))) {
            runs.push_back(run);
        }
    }
    // The fastest of kRounds, taken in turn, as for the other figures: on a
    // shared machine the slower rounds measure the other programs.
    constexpr int kRounds = 3;
    std::vector<LatencyResult> best(runs.size());
    // Datagrams taken per packet counted, the least and the most of the rounds.
    std::vector<std::pair<double, double>> takenPerPacket(runs.size());
    std::printf("\ninput-to-driver latency, 36 universes at 44 Hz (us; CPU ns per packet)\n");
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const LatencyRun& run = runs[i];
            const LatencyResult r = rigs[run.rig]->Run(run);
            std::printf(
                "  %-19s p50 %7.1f  p99 %7.1f  cpu %7.0f  (%llu frames timed, %llu packets, "
                "%llu taken, %llu allocations, %llu pages read)\n",
                run.name, r.p50, r.p99, r.cpuPerPacket, static_cast<unsigned long long>(r.samples),
                static_cast<unsigned long long>(r.packets),
                static_cast<unsigned long long>(r.taken),
                static_cast<unsigned long long>(r.allocations),
                static_cast<unsigned long long>(r.answers));
            if (run.polls > 0) {
                std::printf("  %-19s %llu polls sent, %llu replies\n", "",
                            static_cast<unsigned long long>(r.polls),
                            static_cast<unsigned long long>(r.replies));
            }
            LatencyResult& b = best[i];
            const double taken =
                r.packets > 0 ? static_cast<double>(r.taken) / static_cast<double>(r.packets) : 0;
            if (round == 0) {
                b = r;
                takenPerPacket[i] = {taken, taken};
            }
            takenPerPacket[i] = {std::min(takenPerPacket[i].first, taken),
                                 std::max(takenPerPacket[i].second, taken)};
            b.p50 = std::min(b.p50, r.p50);
            b.p99 = std::min(b.p99, r.p99);
            b.cpuPerPacket = std::min(b.cpuPerPacket, r.cpuPerPacket);
            b.samples = std::min(b.samples, r.samples);
            b.allocations = std::max(b.allocations, r.allocations);
            b.answers = std::min(b.answers, r.answers);
            b.polls = std::min(b.polls, r.polls);
            b.replies = std::max(b.replies, r.replies);
            b.forwarded = std::min(b.forwarded, r.forwarded);
        }
    }
    PinTo(pthread_self(), kAnyCore);
    std::string json = "{";
    bool ok = true;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const LatencyResult& r = best[i];
        char entry[400];
        std::snprintf(entry, sizeof entry,
                      "%s\"%s\": {\"p50\": %.1f, \"p99\": %.1f, \"cpu\": %.0f, "
                      "\"taken_least\": %.3f, \"taken_most\": %.3f, "
                      "\"allocations\": %llu, \"answers\": %llu, \"polls\": %llu, "
                      "\"replies\": %llu, \"seconds\": %.1f}",
                      json.size() > 1 ? ", " : "", runs[i].name, r.p50, r.p99, r.cpuPerPacket,
                      takenPerPacket[i].first, takenPerPacket[i].second,
                      static_cast<unsigned long long>(r.allocations),
                      static_cast<unsigned long long>(r.answers),
                      static_cast<unsigned long long>(r.polls),
                      static_cast<unsigned long long>(r.replies), runs[i].seconds);
        json += entry;
        // What is forwarded is timed; what is not must at least have arrived.
        const bool forwarded =
            (runs[i].path == Path::kBridge || runs[i].path == Path::kRelay) && runs[i].first == 1;
        // The forwarder's floor sent its block packets: one for every four
        // universes a console sent (counted over the whole run).
        const bool floorSent =
            runs[i].path != Path::kForward ||
            r.forwarded * 4 * static_cast<std::uint64_t>(runs[i].consoles) >= r.packets * 9 / 10;
        ok = ok && (forwarded ? r.samples > 0 : takenPerPacket[i].first > 0.9) &&
             (runs[i].readers == 0 || r.answers > 0) && floorSent;
        // The page's own allocations are not the forwarding path's.
        if (runs[i].path == Path::kBridge && runs[i].readers == 0) {
            lxd::bench::AddHotPathAllocations(r.allocations);
        }
    }
    json += "}\n";
    if (path != nullptr) {
        std::ofstream(path) << json;
    }
    return ok;
}

// Root: a network namespace of the bench's own with lo up and multicast
// routed onto it, so that nothing it does reaches a real interface.
// Otherwise the bridge is restricted to lo, and nothing is multicast.
bool EnterOwnNetwork() {
    if (lxd::test::EnterPrivateNetwork(true)) {
        std::printf("running in a network namespace of its own, multicast on lo\n");
        return true;
    }
    std::printf("not root: running on the host's loopback, the bridge restricted to lo\n");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using lxd::bench::WithMin;
    benchmark::Initialize(&argc, argv);
    const char* latencyOut = nullptr;
    const char* syncOut = nullptr;
    const char* latencyRuns = nullptr;  // names of the latency runs to make (default: all)
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--latency_out=", 14) == 0) {
            latencyOut = argv[i] + 14;
        } else if (std::strncmp(argv[i], "--sync_out=", 11) == 0) {
            syncOut = argv[i] + 11;
        } else if (std::strncmp(argv[i], "--latency_runs=", 15) == 0) {
            latencyRuns = argv[i] + 15;
        }
    }
    const bool own = EnterOwnNetwork();
    if (!SetUp()) {
        return 1;
    }
    const std::uint64_t allocations = PathAllocations();
    lxd::bench::AddHotPathAllocations(allocations);
    std::printf(
        "allocations in 199 frames of 36 sACN packets (drain, merge, code, send, tick): "
        "%llu\n",
        static_cast<unsigned long long>(allocations));
    WithMin(benchmark::RegisterBenchmark("packet/bridge", BridgePacket)->UseManualTime());
    WithMin(benchmark::RegisterBenchmark("packet/bare", BarePacket)->UseManualTime());
    WithMin(benchmark::RegisterBenchmark("packet/no_sockets", BridgeWithoutSockets));
    WithMin(benchmark::RegisterBenchmark("packet/no_sockets_two_routes",
                                         BridgeWithoutSocketsTwoRoutes));
    WithMin(benchmark::RegisterBenchmark("frame36/bridge", BridgeFrame)->UseManualTime());
    WithMin(benchmark::RegisterBenchmark("frame36/drain", DrainFrame)->UseManualTime());
    WithMin(benchmark::RegisterBenchmark("frame36/forward", ForwardFrame)->UseManualTime());
    WithMin(benchmark::RegisterBenchmark("frame36/unmapped", UnmappedFrame)->UseManualTime());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!MeasureLatency(latencyOut, own, latencyRuns)) {
        std::fprintf(stderr, "FAIL: the latency runs measured nothing\n");
        return 1;
    }
    if (!lxd::bench::MeasureSync(own, syncOut)) {
        std::fprintf(stderr, "FAIL: a synchronisation measurement did not run\n");
        return 1;
    }
    if (lxd::bench::HotPathAllocations() != 0) {
        std::fprintf(stderr, "FAIL: the bridge's path made %llu heap allocations\n",
                     static_cast<unsigned long long>(lxd::bench::HotPathAllocations()));
        return 1;
    }
    return 0;
}
