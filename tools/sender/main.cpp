// lxdravik-send: transmits levels to the driver's UDP port, from a pattern or
// from a file, at a steady frame rate.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "host/clock.h"
#include "host/udp.h"
#include "tools/sender/datagrams.h"
#include "tools/sender/levels.h"
#include "tools/sender/options.h"

namespace {

using lxd::host::Clock;

std::atomic<bool> g_stop{false};

void RequestStop(int) {
    g_stop.store(true);
}

struct Totals {
    std::uint64_t frames = 0;
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    std::uint64_t failed = 0;
};

void PrintProgress(const Totals& totals, double seconds) {
    std::fprintf(stderr, "\r  frames %llu   datagrams %llu   bytes %llu   %.1f frames/s ",
                 static_cast<unsigned long long>(totals.frames),
                 static_cast<unsigned long long>(totals.datagrams),
                 static_cast<unsigned long long>(totals.bytes),
                 seconds > 0 ? totals.frames / seconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    lxd::sender::Options options;
    if (const int code = lxd::sender::ParseOptions(argc, argv, options); code >= 0) {
        return code;
    }
    lxd::sender::Frame frame;
    if (!options.file.empty()) {
        std::string error;
        if (!lxd::sender::ReadLevelFile(options.file, frame, error)) {
            std::fprintf(stderr, "lxdravik-send: %s\n", error.c_str());
            return 2;
        }
    }
    std::string address;
    if (!lxd::host::ResolveIpv4(options.host, address)) {
        std::fprintf(stderr, "lxdravik-send: cannot resolve '%s' to an IPv4 address\n",
                     options.host.c_str());
        return 2;
    }
    lxd::host::UdpSocket socket;
    if (!socket.Valid() || !socket.SetDestination(address, options.port)) {
        std::fprintf(stderr, "lxdravik-send: cannot open a UDP socket to %s:%u\n", address.c_str(),
                     options.port);
        return 1;
    }
    socket.RequestSendBuffer(1 << 20);

    // A pattern runs until interrupted and a file is sent once, unless told.
    std::int64_t frames = options.count;
    if (frames < 0 && options.duration < 0 && !options.file.empty()) {
        frames = 1;
    }
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::signal(SIGPIPE, SIG_IGN);

    lxd::sender::PatternSource source(options.pattern, options.ports,
                                      static_cast<std::uint8_t>(options.level), options.seed);
    const bool progress = !options.quiet && isatty(STDERR_FILENO);
    const Clock::duration period = lxd::host::Seconds(1.0 / options.fps);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = lxd::host::DeadlineAfter(start, options.duration);
    Clock::time_point nextProgress = start;
    Totals totals;
    lxd::sender::Counts counts;
    std::vector<lxd::host::Bytes> datagrams;
    std::string firstError;

    while (!g_stop.load() && (frames < 0 || static_cast<std::int64_t>(totals.frames) < frames)) {
        const Clock::time_point due = start + period * static_cast<long long>(totals.frames);
        if (due >= end) {
            break;
        }
        std::this_thread::sleep_until(due);
        if (options.file.empty()) {
            source.Fill(totals.frames, frame);
        }
        datagrams.clear();
        lxd::sender::BuildDatagrams(frame, options.packet, options.coding, datagrams, counts);
        for (const lxd::host::Bytes& datagram : datagrams) {
            if (socket.Send(datagram)) {
                ++totals.datagrams;
                totals.bytes += datagram.size();
            } else {
                if (totals.failed++ == 0) {
                    firstError = socket.LastError();
                }
            }
        }
        ++totals.frames;
        const Clock::time_point now = Clock::now();
        if (progress && now >= nextProgress) {
            PrintProgress(totals, lxd::host::SecondsBetween(start, now));
            nextProgress = now + std::chrono::milliseconds(250);
        }
    }
    const double seconds = lxd::host::SecondsBetween(start, Clock::now());
    if (progress) {
        PrintProgress(totals, seconds);
        std::fprintf(stderr, "\n");
    }
    std::printf("sent %llu frames in %.1f s to %s:%u: %llu datagrams, %llu bytes\n",
                static_cast<unsigned long long>(totals.frames), seconds, address.c_str(),
                options.port, static_cast<unsigned long long>(totals.datagrams),
                static_cast<unsigned long long>(totals.bytes));
    std::printf("  packets: %llu level, %llu block (%llu raw blocks, %llu coded)\n",
                static_cast<unsigned long long>(counts.levelPackets),
                static_cast<unsigned long long>(counts.blockPackets),
                static_cast<unsigned long long>(counts.rawBlocks),
                static_cast<unsigned long long>(counts.codedBlocks));
    if (counts.codeAsLongAsLevels > 0) {
        std::printf(
            "  %llu blocks went raw: their code was as long as their levels, which the driver "
            "reads as raw levels\n",
            static_cast<unsigned long long>(counts.codeAsLongAsLevels));
    }
    if (totals.failed > 0) {
        std::fprintf(stderr, "lxdravik-send: %llu datagrams could not be sent (%s)\n",
                     static_cast<unsigned long long>(totals.failed), firstError.c_str());
        return 1;
    }
    return 0;
}
