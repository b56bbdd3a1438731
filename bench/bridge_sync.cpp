#include "bench/bridge_sync.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/device_entry.h"
#include "host/driver_library.h"
#include "tests/support/bridge_packets.h"
#include "tools/bridge/net/network.h"
#include "tools/bridge/net/repeat.h"

namespace lxd::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using bridge::SyncMode;
using namespace std::chrono_literals;

constexpr std::uint16_t kSyncUniverse = 100;

sockaddr_in At(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void SendTo(int fd, const Bytes& b, std::uint16_t port) {
    const sockaddr_in to = At(port);
    sendto(fd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// sACN levels for `universe`: all `level`, or with `noise` levels that do not
// compress (each port's block goes raw, two to a datagram).
Bytes Data(std::uint16_t universe, std::uint8_t level, std::uint16_t sync, int sequence,
           bool forceSync = false, bool noise = false) {
    test::SacnFields f;
    f.universe = universe;
    f.syncAddress = sync;
    f.sequence = static_cast<std::uint8_t>(sequence);
    f.options = forceSync ? 0x20 : 0;
    for (int i = 0; i < 512; ++i) {
        f.slots[i] = noise ? static_cast<std::uint8_t>((i * 131 + level * 71) ^ (i >> 3)) : level;
    }
    return f.Build();
}

Bytes ArtDmx(std::uint16_t portAddress, std::uint8_t level) {
    test::ArtDmxFields f;
    f.portAddress = portAddress;
    f.data = Bytes(512, level);
    return f.Build();
}

// The bridge as the program runs it: its sockets, the tick, its own event
// loop on a thread; restricted to lo, sending to the driver on 127.0.0.1:2501.
class LiveBridge {
  public:
    bool Open(const char* sacn, const char* artnet, SyncMode mode) {
        bridge::Mapping mapping;
        std::string error;
        bridge::NetworkSettings settings;
        settings.interfaces = {"lo"};
        if ((*sacn != 0 && !mapping.Add(bridge::Protocol::kSacn, sacn, error)) ||
            (*artnet != 0 && !mapping.Add(bridge::Protocol::kArtnet, artnet, error)) ||
            !network_.Open(settings, mapping, error)) {
            std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
            return false;
        }
        bridge_ = std::make_unique<bridge::Bridge>(mapping, true, network_);
        bridge_->SetSync(mode);
        network_.Start(*bridge_);
        tick_ = std::make_unique<bridge::Repeat>(io_, bridge::kTickInterval,
                                                 [this] { bridge_->Tick(host::NowMillis()); });
        thread_ = std::thread([this] { io_.run(); });
        return true;
    }
    ~LiveBridge() {
        io_.stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    asio::io_context io_{1};  // one thread runs it, as the program's
    bridge::Network network_{io_};
    std::unique_ptr<bridge::Bridge> bridge_;
    std::unique_ptr<bridge::Repeat> tick_;
    std::thread thread_;
};

// A host: the real driver, loaded and connected as a host does it.
class Host {
  public:
    bool Open() {
        if (!driver_.Load(host::DefaultDriverPath())) {
            std::fprintf(stderr, "%s\n", driver_.Error().c_str());
            return false;
        }
        std::vector<std::uint8_t> list = host::EmptyDetectionList();
        d().StartDetect();
        d().ContinueDetect(0, list.data());
        connected_ = d().Connect(list.data() + kListHeaderSize) == 0;
        return connected_;
    }
    ~Host() {
        if (connected_) {
            d().Disconnect(0);
        }
    }
    // One ServiceDevices, then the first level of `port`.
    std::uint8_t Level(int port) {
        d().ServiceDevices();
        return d().GetChannel(0, port, 0);
    }
    // Reads ports 0..count-1 after one ServiceDevices: true when they show
    // more than one frame.
    bool Torn(int count) {
        d().ServiceDevices();
        const std::uint8_t first = d().GetChannel(0, 0, 0);
        for (int p = 1; p < count; ++p) {
            if (d().GetChannel(0, p, 0) != first) {
                return true;
            }
        }
        return false;
    }

  private:
    const host::DriverExports& d() const { return driver_.Exports(); }
    host::DriverLibrary driver_;
    bool connected_ = false;
};

// The first to last datagram of a synchronisation's burst, as the kernel
// stamped their arrival at a socket that stands for the driver: `ports`
// universes of levels that do not compress are held, then released by one
// synchronisation packet and sent in one Flush.
struct Span {
    double median = 0, p99 = 0;  // microseconds
    int datagrams = 0;
};

bool BurstSpan(int ports, Span& out) {
    const int rx = socket(AF_INET, SOCK_DGRAM, 0);
    const int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = At(0);
    socklen_t length = sizeof address;
    const int on = 1;
    setsockopt(rx, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    const timeval wait{0, 200000};
    setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    bind(rx, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    getsockname(rx, reinterpret_cast<sockaddr*>(&address), &length);
    asio::io_context io;
    bridge::Network network(io);
    bridge::Mapping mapping;
    std::string error;
    bridge::NetworkSettings settings;
    settings.interfaces = {"lo"};
    settings.toPort = ntohs(address.sin_port);
    settings.sacnPort = 0;
    mapping.Add(bridge::Protocol::kSacn, "1-" + std::to_string(ports), error);
    if (!network.Open(settings, mapping, error)) {
        std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
        return false;
    }
    bridge::Bridge b(mapping, true, network);
    network.Start(b);
    std::vector<double> spans;
    for (int round = 0; round < 202; ++round) {
        for (int u = 1; u <= ports; ++u) {
            SendTo(tx,
                   Data(static_cast<std::uint16_t>(u), static_cast<std::uint8_t>(round), 100, round,
                        false, true),
                   network.SacnPort());
        }
        network.DrainSacn();  // held from the second round on
        SendTo(tx, test::SacnSync(kSyncUniverse, static_cast<std::uint8_t>(round)),
               network.SacnPort());
        network.DrainSacn();
        double first = 0, last = 0;
        int datagrams = 0;
        for (int expected = round == 0 ? 0 : (ports + 1) / 2; datagrams < expected; ++datagrams) {
            std::uint8_t buffer[1500];
            iovec part{buffer, sizeof buffer};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (recvmsg(rx, &message, 0) <= 0) {
                break;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec t;
                    std::memcpy(&t, CMSG_DATA(c), sizeof t);
                    last = static_cast<double>(t.tv_sec) * 1e6 + t.tv_nsec / 1e3;
                    first = datagrams == 0 ? last : first;
                }
            }
        }
        if (round >= 2 && datagrams == (ports + 1) / 2) {
            spans.push_back(last - first);
        }
        // The first round went as it came (no synchronisation yet): empty it.
        for (std::uint8_t buffer[1500]; round == 0 && recv(rx, buffer, sizeof buffer, 0) > 0;) {
        }
    }
    close(rx);
    close(tx);
    network.Close();
    if (spans.size() < 150) {
        std::fprintf(stderr, "burst of %d ports: only %zu whole bursts arrived\n", ports,
                     spans.size());
        return false;
    }
    std::sort(spans.begin(), spans.end());
    out = {spans[spans.size() / 2], spans[spans.size() * 99 / 100], (ports + 1) / 2};
    return true;
}

// A console sends frame f (every level 1 + f % 250) of its inputs spread
// over 14 ms of each 33 ms, then the synchronisation packet; the host reads
// the ports about 1,000 times a second for 3 s. The fraction of torn reads.
struct TornRun {
    const char* name;
    const char* sacn;  // mapped from port 0
    const char* artnet;
    SyncMode mode;
    int sacnInputs, artnetInputs;
    bool sacnSync, artSync;
};

double Torn(Host& host, const TornRun& run) {
    LiveBridge live;
    if (!live.Open(run.sacn, run.artnet, run.mode)) {
        return -1;
    }
    std::atomic<bool> stop{false};
    std::thread console([&] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int inputs = run.sacnInputs + run.artnetInputs;
        const auto start = Clock::now();
        for (int f = 0; !stop; ++f) {
            const auto frame = start + f * 33ms;
            const auto level = static_cast<std::uint8_t>(1 + f % 250);
            for (int i = 0; i < inputs; ++i) {
                std::this_thread::sleep_until(frame + i * 14ms / (inputs - 1));
                if (i < run.sacnInputs) {
                    SendTo(fd,
                           Data(static_cast<std::uint16_t>(i + 1), level,
                                run.sacnSync ? kSyncUniverse : 0, f),
                           bridge::kSacnPort);
                } else {
                    SendTo(fd, ArtDmx(static_cast<std::uint16_t>(i - run.sacnInputs), level),
                           bridge::kArtnetPort);
                }
            }
            if (run.sacnSync) {
                SendTo(fd, test::SacnSync(kSyncUniverse, static_cast<std::uint8_t>(f)),
                       bridge::kSacnPort);
            }
            if (run.artSync) {
                SendTo(fd, test::ArtSync(), bridge::kArtnetPort);
            }
        }
        close(fd);
    });
    std::this_thread::sleep_for(1s);  // the first synchronisations taken
    int torn = 0;
    constexpr int kReads = 3000;
    auto next = Clock::now();
    for (int read = 0; read < kReads; ++read) {
        torn += host.Torn(run.sacnInputs + run.artnetInputs) ? 1 : 0;
        std::this_thread::sleep_until(next += 1ms);
    }
    stop = true;
    console.join();
    return static_cast<double>(torn) / kReads;
}

// The delays of the goals, on one sACN universe with the host polling every
// millisecond: data named for a synchronisation sent 300 ms later (after it,
// and how long after); the synchronisation stopping (data with
// Force_Synchronization set flows again after how long); data without a
// synchronisation address (the longest of 100 levels' delays).
struct Delays {
    bool early = true;
    double afterSync = -1, syncStopped = -1, unsynced = -1;  // ms
};

// Polls until port 0 shows `level` or `limit` passes; the time it appeared.
Clock::time_point Await(Host& host, std::uint8_t level, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (host.Level(0) != level && Clock::now() < end) {
        std::this_thread::sleep_for(1ms);
    }
    return Clock::now();
}

bool MeasureDelays(Host& host, Delays& out) {
    LiveBridge live;
    if (!live.Open("1", "", SyncMode::kAuto)) {
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int sequence = 0;
    for (; sequence < 10; ++sequence) {  // the stream is synchronised
        SendTo(fd, Data(1, 1, kSyncUniverse, sequence), bridge::kSacnPort);
        SendTo(fd, test::SacnSync(kSyncUniverse, static_cast<std::uint8_t>(sequence)),
               bridge::kSacnPort);
        std::this_thread::sleep_for(33ms);
    }
    SendTo(fd, Data(1, 77, kSyncUniverse, sequence), bridge::kSacnPort);
    Await(host, 77, 300ms);
    out.early = host.Level(0) == 77;
    const auto sync = Clock::now();
    SendTo(fd, test::SacnSync(kSyncUniverse, static_cast<std::uint8_t>(sequence++)),
           bridge::kSacnPort);
    out.afterSync = Millis(Await(host, 77, 1s) - sync);
    // The synchronisation stops; the console goes on with Force_Synchronization set.
    std::atomic<bool> stop{false};
    std::thread console([&] {
        for (int i = 0; !stop; ++i, ++sequence) {
            SendTo(fd,
                   Data(1, static_cast<std::uint8_t>(100 + i % 100), kSyncUniverse, sequence, true),
                   bridge::kSacnPort);
            std::this_thread::sleep_for(25ms);
        }
    });
    const auto stopped = Clock::now();
    while (host.Level(0) == 77 && Clock::now() - stopped < 6s) {
        std::this_thread::sleep_for(1ms);
    }
    out.syncStopped = Millis(Clock::now() - stopped);
    stop = true;
    console.join();
    // Without a synchronisation address: each level's delay to the host.
    for (int i = 0; i < 100; ++i, ++sequence) {
        const auto level = static_cast<std::uint8_t>(1 + i);
        const auto sent = Clock::now();
        SendTo(fd, Data(1, level, 0, sequence), bridge::kSacnPort);
        out.unsynced = std::max(out.unsynced, Millis(Await(host, level, 200ms) - sent));
        std::this_thread::sleep_for(5ms);
    }
    close(fd);
    return true;
}

}  // namespace

bool MeasureSync(bool own, const char* path) {
    Span spans[2];
    std::printf("\nsynchronisation bursts: first to last datagram at the receiving socket (us)\n");
    for (int i = 0; i < 2; ++i) {
        const int ports = i == 0 ? 8 : 36;
        if (!BurstSpan(ports, spans[i])) {
            return false;
        }
        std::printf("  %2d ports (%2d datagrams): median %6.1f  p99 %6.1f\n", ports,
                    spans[i].datagrams, spans[i].median, spans[i].p99);
    }
    char json[1024];
    int at = std::snprintf(json, sizeof json,
                           "{\"burst8\": {\"median\": %.1f, \"p99\": %.1f}, \"burst36\": "
                           "{\"median\": %.1f, \"p99\": %.1f}",
                           spans[0].median, spans[0].p99, spans[1].median, spans[1].p99);
    bool ok = true;
    Host host;
    if (!own) {
        std::printf(
            "torn reads and delays: not measured (they need a network namespace of the "
            "bench's own: run as root)\n");
    } else if (!host.Open()) {
        ok = false;
    } else {
        const TornRun runs[] = {
            {"sacn8", "1-8", "", SyncMode::kAuto, 8, 0, true, false},
            {"sacn8_off", "1-8", "", SyncMode::kOff, 8, 0, true, false},
            {"artnet4", "", "0-3", SyncMode::kAuto, 0, 4, false, true},
            {"mixed_all", "1-4", "0@4", SyncMode::kAll, 4, 1, true, false},
        };
        std::printf("\ntorn reads: a host reading the real driver 1,000 times a second\n");
        at += std::snprintf(json + at, sizeof json - static_cast<std::size_t>(at), ", \"torn\": {");
        for (std::size_t i = 0; i < std::size(runs); ++i) {
            const double torn = Torn(host, runs[i]);
            ok = ok && torn >= 0;
            std::printf("  %-10s %6.2f %%\n", runs[i].name, 100 * torn);
            at += std::snprintf(json + at, sizeof json - static_cast<std::size_t>(at),
                                "%s\"%s\": %.5f", i ? ", " : "", runs[i].name, torn);
        }
        Delays delays;
        ok = ok && MeasureDelays(host, delays);
        std::printf(
            "\ndelays (ms): held for a sync 300 ms later: %s, %.1f after it; sync "
            "stopped: levels again after %.0f; no sync address: at most %.1f\n",
            delays.early ? "EARLY" : "not before it", delays.afterSync, delays.syncStopped,
            delays.unsynced);
        at += std::snprintf(json + at, sizeof json - static_cast<std::size_t>(at),
                            "}, \"early\": %s, \"after_sync\": %.1f, \"sync_stopped\": %.0f, "
                            "\"unsynced\": %.1f",
                            delays.early ? "true" : "false", delays.afterSync, delays.syncStopped,
                            delays.unsynced);
    }
    std::snprintf(json + at, sizeof json - static_cast<std::size_t>(at), "}\n");
    if (path != nullptr) {
        std::ofstream(path) << json;
    }
    return ok;
}

}  // namespace lxd::bench
