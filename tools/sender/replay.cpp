#include "tools/sender/replay.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "host/capture.h"

namespace lxd::sender {
namespace {

using Clock = std::chrono::steady_clock;

struct Played {
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    std::uint64_t failed = 0;
    std::uint64_t passes = 0;
    std::string firstError;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "lxdravik-send: %s\n", message.c_str());
    return 2;
}

// Sleeps until `due` in short steps, so that an interrupt is not kept waiting
// by a long pause in the capture. False when stopped.
bool WaitUntil(Clock::time_point due, const std::atomic<bool>& stop) {
    constexpr auto kStep = std::chrono::milliseconds(100);
    for (Clock::time_point now = Clock::now(); now < due && !stop.load(); now = Clock::now()) {
        std::this_thread::sleep_until(due - now > kStep ? now + kStep : due);
    }
    return !stop.load();
}

// Reads the whole capture once: its counts, or an error message.
bool Survey(const std::string& file, std::uint16_t port, host::CaptureCounts& counts,
            std::string& error) {
    host::CaptureReader reader;
    if (!reader.Open(file, error)) {
        return false;
    }
    host::CapturedDatagram datagram;
    host::CaptureReader::Status status;
    while ((status = reader.Next(port, datagram, error)) ==
           host::CaptureReader::Status::kDatagram) {
    }
    counts = reader.Counts();
    if (status == host::CaptureReader::Status::kError) {
        return false;
    }
    if (counts.matched == 0) {
        error = file + ": no UDP datagram to port " + std::to_string(port) + " among its " +
                std::to_string(counts.frames) + " frames";
        return false;
    }
    return true;
}

void PrintProgress(std::uint64_t pass, std::uint64_t datagram, std::uint64_t perPass,
                   double seconds) {
    std::fprintf(stderr, "\r  pass %llu   datagram %llu of %llu   %.1f s ",
                 static_cast<unsigned long long>(pass), static_cast<unsigned long long>(datagram),
                 static_cast<unsigned long long>(perPass), seconds);
}

// Plays one pass; false when stopped or the file failed (`error` set).
bool PlayPass(const Options& options, host::UdpSocket& socket, const std::atomic<bool>& stop,
              std::uint64_t perPass, bool progress, Played& played, std::string& error) {
    host::CaptureReader reader;
    if (!reader.Open(options.replay, error)) {
        return false;
    }
    const Clock::time_point start = Clock::now();
    Clock::time_point nextProgress = start;
    std::int64_t first = 0;
    host::CapturedDatagram datagram;
    host::CaptureReader::Status status;
    while ((status = reader.Next(options.replayPort, datagram, error)) ==
           host::CaptureReader::Status::kDatagram) {
        if (reader.Counts().matched == 1) {
            first = datagram.microseconds;
        }
        if (options.speed > 0) {
            const std::chrono::duration<double, std::micro> offset(
                static_cast<double>(datagram.microseconds - first) / options.speed);
            if (!WaitUntil(start + std::chrono::duration_cast<Clock::duration>(offset), stop)) {
                return false;
            }
        } else if (stop.load()) {
            return false;
        }
        if (socket.Send(datagram.udp.payload, datagram.udp.size)) {
            ++played.datagrams;
            played.bytes += datagram.udp.size;
        } else if (played.failed++ == 0) {
            played.firstError = socket.LastError();
        }
        const Clock::time_point now = Clock::now();
        if (progress && now >= nextProgress) {
            PrintProgress(played.passes + 1, reader.Counts().matched, perPass,
                          std::chrono::duration<double>(now - start).count());
            nextProgress = now + std::chrono::milliseconds(250);
        }
    }
    if (status == host::CaptureReader::Status::kError) {
        return false;
    }
    ++played.passes;
    return true;
}

}  // namespace

int Replay(const Options& options, host::UdpSocket& socket, const std::string& address,
           const std::atomic<bool>& stop) {
    host::CaptureCounts counts;
    std::string error;
    if (!Survey(options.replay, options.replayPort, counts, error)) {
        return Fail(error);
    }
    const bool progress = !options.quiet && isatty(STDERR_FILENO);
    const Clock::time_point start = Clock::now();
    Played played;
    while (PlayPass(options, socket, stop, counts.matched, progress, played, error) &&
           options.loop) {
    }
    if (progress) {
        std::fprintf(stderr, "\n");
    }
    if (!error.empty()) {
        return Fail(error);  // the file changed under us
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "replayed %llu datagrams (%llu bytes) of %s in %.1f s to %s:%u; whole passes: %llu\n",
        static_cast<unsigned long long>(played.datagrams),
        static_cast<unsigned long long>(played.bytes), options.replay.c_str(), seconds,
        address.c_str(), options.port, static_cast<unsigned long long>(played.passes));
    std::printf(
        "  capture: %llu frames, %llu datagrams to port %u; skipped %llu fragments, %llu to "
        "other ports, %llu not IPv4 UDP, %llu malformed\n",
        static_cast<unsigned long long>(counts.frames),
        static_cast<unsigned long long>(counts.matched), options.replayPort,
        static_cast<unsigned long long>(counts.fragments),
        static_cast<unsigned long long>(counts.otherPorts),
        static_cast<unsigned long long>(counts.other),
        static_cast<unsigned long long>(counts.malformed));
    if (played.failed > 0) {
        std::fprintf(stderr, "lxdravik-send: %llu datagrams could not be sent (%s)\n",
                     static_cast<unsigned long long>(played.failed), played.firstError.c_str());
        return 1;
    }
    return 0;
}

}  // namespace lxd::sender
