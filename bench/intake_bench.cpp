// The intake drain over loopback: one ServiceDevices call against a bare
// non-blocking recvfrom loop over the same queue of N datagrams on the
// driver's own socket, and a call with nothing waiting against one bare
// would-block recvfrom. Binds the intake port: run it under the port lock.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/min_statistic.h"
#include "bench/thread_clock.h"
#include "driver/driver.h"
#include "host/device_entry.h"
#include "host/udp.h"
#include "protocol/level_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using lxd::bench::ThreadSeconds;

constexpr std::uint32_t kMarkerAddress = lxd::kStoreSize;  // no level datagram touches it

struct Rig {
    lxd::Driver driver;  // the driver's whole state, as the module holds it
    int fd = -1;
    lxd::host::UdpSocket sender;
    // Level datagrams, one per port, 511 levels each; two tags to alternate.
    std::vector<Bytes> batch[2];
    Bytes marker[2];   // the last datagram of a batch: its tag at kMarkerAddress
    int capacity = 0;  // datagrams the receive queue holds
    std::uint64_t serviceAllocations = 0;
};

Rig& TheRig() {
    static Rig rig;
    return rig;
}

Bytes LevelDatagram(std::uint32_t start, std::size_t n, std::uint8_t value) {
    const Bytes levels(n, value);
    lxd::LevelWriter packet;
    packet.Set(start, levels.data(), static_cast<std::uint32_t>(n));
    return Bytes(packet.Data(), packet.Data() + packet.Size());
}

// Queues n datagrams (the last one the marker) with tag t.
void Queue(int n, int t) {
    Rig& rig = TheRig();
    for (int i = 0; i < n - 1; ++i) {
        rig.sender.Send(rig.batch[t][static_cast<std::size_t>(i) % rig.batch[t].size()]);
    }
    rig.sender.Send(rig.marker[t]);
}

int BareDrain(int fd) {
    std::uint8_t buffer[1316];
    int received = 0;
    for (;;) {
        sockaddr_in from;
        socklen_t length = sizeof from;
        if (recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length) <=
            0) {
            return received;
        }
        ++received;
    }
}

bool SetUpRig() {
    Rig& rig = TheRig();
    if (rig.driver.Connect(lxd::host::DeviceEntry().data()) != 0) {
        std::fprintf(stderr, "cannot open UDP %u (is something else holding it?)\n",
                     unsigned{lxd::kIntakePort});
        return false;
    }
    rig.fd = static_cast<int>(rig.driver.IntakeSocket());
    rig.sender.RequestSendBuffer(8 << 20);
    if (!rig.sender.Valid() || !rig.sender.SetDestination("127.0.0.1", lxd::kIntakePort)) {
        return false;
    }
    for (int t = 0; t < 2; ++t) {
        const auto tag = static_cast<std::uint8_t>(0x51 + t);
        for (std::uint32_t port = 0; port < 36; ++port) {
            rig.batch[t].push_back(LevelDatagram(port * 512 + 1, 511, tag));
        }
        rig.marker[t] = LevelDatagram(kMarkerAddress, 1, tag);
    }
    // The queue's size in datagrams: overfill it and count what stayed.
    BareDrain(rig.fd);
    Queue(20000, 0);
    rig.capacity = BareDrain(rig.fd);
    return rig.capacity > 0;
}

// Times (thread CPU time) one ServiceDevices drain of n queued datagrams; checks that the last
// one was applied.
void ServiceDrain(benchmark::State& state) {
    Rig& rig = TheRig();
    const int n = state.range(0) > 0 ? static_cast<int>(state.range(0)) : rig.capacity;
    int t = 0;
    for (auto _ : state) {
        t ^= 1;
        Queue(n, t);
        const double start = ThreadSeconds();
        rig.driver.ServiceDevices();
        state.SetIterationTime(ThreadSeconds() - start);
        if (rig.driver.Store()[kMarkerAddress - 1] != rig.marker[t][lxd::kLevelDataOffset]) {
            state.SkipWithError("the last datagram was not applied");
            break;
        }
    }
    state.counters["datagrams"] = n;
}

void BareRecvfromDrain(benchmark::State& state) {
    Rig& rig = TheRig();
    const int n = state.range(0) > 0 ? static_cast<int>(state.range(0)) : rig.capacity;
    for (auto _ : state) {
        Queue(n, 0);
        const double start = ThreadSeconds();
        const int received = BareDrain(rig.fd);
        state.SetIterationTime(ThreadSeconds() - start);
        if (received != n) {
            state.SkipWithError("the queue did not hold every datagram");
            break;
        }
    }
    state.counters["datagrams"] = n;
}

void ServiceEmpty(benchmark::State& state) {
    for (auto _ : state) {
        TheRig().driver.ServiceDevices();
    }
}

void BareWouldBlock(benchmark::State& state) {
    const int fd = TheRig().fd;
    std::uint8_t buffer[1316];
    for (auto _ : state) {
        sockaddr_in from;
        socklen_t length = sizeof from;
        benchmark::DoNotOptimize(
            recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length));
    }
}

// ServiceDevices over a full queue and over an empty one, counting allocations.
std::uint64_t ServiceAllocations() {
    std::uint64_t made = 0;
    for (int round = 0; round < 20; ++round) {
        Queue(150, round & 1);
        const std::uint64_t before = lxd::bench::Allocations();
        TheRig().driver.ServiceDevices();
        TheRig().driver.ServiceDevices();
        made += lxd::bench::Allocations() - before;
    }
    return made;
}

}  // namespace

int main(int argc, char** argv) {
    using lxd::bench::WithMin;
    benchmark::Initialize(&argc, argv);
    if (!SetUpRig()) {
        return 1;
    }
    const std::uint64_t allocations = ServiceAllocations();
    lxd::bench::AddHotPathAllocations(allocations);
    std::printf("receive queue holds %d datagrams of %zu bytes\n", TheRig().capacity,
                TheRig().batch[0][0].size());
    std::printf("allocations in 40 ServiceDevices calls (20 drains of 150): %llu\n",
                static_cast<unsigned long long>(allocations));

    for (int n : {36, 150, 0}) {  // 0: as many as the queue holds
        WithMin(
            benchmark::RegisterBenchmark("drain/service", ServiceDrain)->Arg(n)->UseManualTime());
        WithMin(
            benchmark::RegisterBenchmark("drain/bare", BareRecvfromDrain)->Arg(n)->UseManualTime());
    }
    WithMin(benchmark::RegisterBenchmark("empty/service", ServiceEmpty));
    WithMin(benchmark::RegisterBenchmark("empty/bare", BareWouldBlock));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TheRig().driver.Disconnect(0);
    if (lxd::bench::HotPathAllocations() != 0) {
        std::fprintf(stderr, "FAIL: ServiceDevices made %llu heap allocations\n",
                     static_cast<unsigned long long>(lxd::bench::HotPathAllocations()));
        return 1;
    }
    return 0;
}
