// The bridge's path for sACN over loopback: receive, parse, merge, code and
// send one packet (Network::DrainSacn on a queued packet, one block packet
// out) against a bare relay (recvfrom and sendto of the same bytes), and one
// frame of 36 universes. Thread CPU time, fastest repetition; allocations in
// the bridge's path fail the run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/min_statistic.h"
#include "bench/thread_clock.h"
#include "tests/bridge/packets.h"
#include "tools/bridge/network.h"

namespace {

using lxd::bench::ThreadSeconds;
using Bytes = std::vector<std::uint8_t>;

constexpr int kUniverses = 36;

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
        settings.bind = "127.0.0.1";
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

// Sends universe u's other look: its levels always change.
void SendTo(const sockaddr_in& to, int u) {
    Rig& rig = TheRig();
    rig.look[u] ^= 1;
    Bytes& packet = rig.packets[u][rig.look[u]];
    packet[111] = ++rig.sequence;
    sendto(rig.sender, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
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

void BridgeWithoutSockets(benchmark::State& state) {
    Rig& rig = TheRig();
    NullSink sink;
    lxd::bridge::Mapping mapping;
    std::string error;
    mapping.Add(lxd::bridge::Protocol::kSacn, "1-36", error);
    lxd::bridge::Bridge bridge(mapping, true, sink);
    lxd::bridge::Millis now{0};
    for (auto _ : state) {
        rig.look[0] ^= 1;
        Bytes& packet = rig.packets[0][rig.look[0]];
        packet[111] = ++rig.sequence;
        bridge.OnSacn(packet.data(), packet.size(), now);
        bridge.Flush(now);
    }
    if (bridge.Output().Datagrams() != static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("not every packet was sent");
    }
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
        rig.all.bridge->Tick(lxd::bridge::SteadyNow());
        made += round > 0 ? lxd::bench::Allocations() - before : 0;
        Collect();
    }
    return made;
}

}  // namespace

int main(int argc, char** argv) {
    using lxd::bench::WithMin;
    benchmark::Initialize(&argc, argv);
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
    WithMin(benchmark::RegisterBenchmark("frame36/bridge", BridgeFrame)->UseManualTime());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (lxd::bench::HotPathAllocations() != 0) {
        std::fprintf(stderr, "FAIL: the bridge's path made %llu heap allocations\n",
                     static_cast<unsigned long long>(lxd::bench::HotPathAllocations()));
        return 1;
    }
    return 0;
}
