// lxdravik-send: transmits levels to the driver's UDP port, from a pattern or
// from a file, at a steady frame rate.
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "host/arguments.h"
#include "host/clock.h"
#include "host/udp.h"
#include "tools/sender/datagrams.h"
#include "tools/sender/levels.h"
#include "tools/sender/options.h"
#if defined(LXD_HAVE_PCAP)
#include "tools/sender/capture_out.h"
#include "tools/sender/replay.h"
#endif

namespace {

using lxd::host::Clock;

std::atomic<bool> g_stop{false};

void RequestStop(int) {
    g_stop.store(true);
}

bool ErrorsGoToTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
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
            return lxd::host::Fail(lxd::sender::kProgram, error);
        }
    }
    std::string address;
    if (!lxd::host::ResolveIpv4(options.host, address)) {
        return lxd::host::Fail(lxd::sender::kProgram,
                               "cannot resolve '" + options.host + "' to an IPv4 address");
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
#if defined(SIGPIPE)
    std::signal(SIGPIPE, SIG_IGN);
#endif

    // Each datagram goes to the socket, or with --pcap into the capture
    // stamped with the time it is due (and then nothing waits for that time).
    std::function<bool(const lxd::host::Bytes&, Clock::duration)> put =
        [&socket](const lxd::host::Bytes& datagram, Clock::duration) {
            return socket.Send(datagram);
        };
#if defined(LXD_HAVE_PCAP)
    if (!options.replay.empty()) {
        return lxd::sender::Replay(options, socket, address, g_stop);
    }
    lxd::sender::CaptureOut capture;
    if (!options.pcap.empty()) {
        std::string error;
        if (!capture.Open(options.pcap, address, options.port, error)) {
            return lxd::host::Fail(lxd::sender::kProgram, error);
        }
        put = [&capture](const lxd::host::Bytes& datagram, Clock::duration due) {
            return capture.Write(datagram, due);
        };
    }
#endif
    const bool toCapture = !options.pcap.empty();

    lxd::sender::PatternSource source(options.pattern, options.ports,
                                      static_cast<std::uint8_t>(options.level), options.seed);
    const bool progress = !options.quiet && ErrorsGoToTerminal();
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
        if (!toCapture) {
            std::this_thread::sleep_until(due);
        }
        if (options.file.empty()) {
            source.Fill(totals.frames, frame);
        }
        datagrams.clear();
        lxd::sender::BuildDatagrams(frame, options.packet, options.coding, datagrams, counts);
        for (const lxd::host::Bytes& datagram : datagrams) {
            if (put(datagram, due - start)) {
                ++totals.datagrams;
                totals.bytes += datagram.size();
            } else {
                if (totals.failed++ == 0) {
                    firstError = toCapture ? "not framed" : socket.LastError();
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
    // Written to a capture, the frames span the time they were due.
    const double seconds = toCapture
                               ? lxd::host::SecondsBetween(
                                     start, start + period * static_cast<long long>(totals.frames))
                               : lxd::host::SecondsBetween(start, Clock::now());
    if (progress) {
        PrintProgress(totals, seconds);
        std::fprintf(stderr, "\n");
    }
    std::printf("%s %llu frames in %.1f s to %s:%u%s%s: %llu datagrams, %llu bytes\n",
                toCapture ? "wrote" : "sent", static_cast<unsigned long long>(totals.frames),
                seconds, address.c_str(), options.port, toCapture ? " into " : "",
                options.pcap.c_str(), static_cast<unsigned long long>(totals.datagrams),
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
#if defined(LXD_HAVE_PCAP)
    if (std::string error; toCapture && !capture.Close(error)) {
        std::fprintf(stderr, "lxdravik-send: %s: %s\n", options.pcap.c_str(), error.c_str());
        return 1;
    }
#endif
    if (totals.failed > 0) {
        std::fprintf(stderr, "lxdravik-send: %llu datagrams could not be sent (%s)\n",
                     static_cast<unsigned long long>(totals.failed), firstError.c_str());
        return 1;
    }
    return 0;
}
