#include "tools/sender/replay.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "host/arguments.h"
#include "host/capture.h"
#include "host/clock.h"

namespace lxd::sender {
namespace {

using host::Clock;

struct Played {
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    std::uint64_t failed = 0;
    std::uint64_t passes = 0;
    std::string firstError;
};

// Sleeps until `due` in short steps, so that an interrupt is not kept waiting
// by a long pause in the capture. False when stopped.
bool WaitUntil(Clock::time_point due, const std::atomic<bool>& stop) {
    constexpr auto kStep = std::chrono::milliseconds(100);
    for (Clock::time_point now = Clock::now(); now < due && !stop.load(); now = Clock::now()) {
        std::this_thread::sleep_until(due - now > kStep ? now + kStep : due);
    }
    return !stop.load();
}

// What the survey of the whole capture found before anything is played.
struct Survey {
    host::CaptureCounts counts;
    std::int64_t first = 0;     // the first datagram's time, microseconds
    std::int64_t interval = 0;  // the median of the gaps between datagrams (0: none)
};

// The skipped frames by cause, the empty ones left out ("none" if all are).
std::string Skipped(const host::CaptureCounts& c, std::uint16_t port) {
    const struct {
        std::uint64_t n;
        std::string what;
    } causes[] = {
        {c.snapshotCut, "cut by the snapshot length"},
        {c.ipv6, "IPv6 to port " + std::to_string(port)},
        {c.fragments - c.fragmentsUsed, "IP fragments not played"},
        {c.other, "other protocols"},
        {c.otherPorts, "to other ports"},
        {c.malformed, "malformed"},
    };
    std::string text;
    for (const auto& cause : causes) {
        if (cause.n > 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(cause.n) + " " + cause.what;
        }
    }
    return text.empty() ? "none" : text;
}

// Reads the whole capture once: its counts and pace, or an error message.
// A cut-off last record is a warning on stderr.
bool SurveyCapture(const std::string& file, std::uint16_t port, Survey& survey,
                   std::string& error) {
    host::CaptureReader reader;
    if (!reader.Open(file, error)) {
        return false;
    }
    std::vector<std::int64_t> gaps;
    std::int64_t last = 0;
    host::CapturedDatagram datagram;
    host::CaptureReader::Status status;
    while ((status = reader.Next(port, datagram, error)) ==
           host::CaptureReader::Status::kDatagram) {
        if (reader.Counts().matched == 1) {
            survey.first = datagram.microseconds;
        } else if (datagram.microseconds > last) {
            gaps.push_back(datagram.microseconds - last);
        }
        last = datagram.microseconds;
    }
    survey.counts = reader.Counts();
    if (status == host::CaptureReader::Status::kError) {
        return false;
    }
    if (!gaps.empty()) {
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
        survey.interval = gaps[gaps.size() / 2];
    }
    const host::CaptureCounts& counts = survey.counts;
    if (counts.matched == 0) {
        error = file + ": no UDP datagram to port " + std::to_string(port) + " among its " +
                std::to_string(counts.frames) + " frames (skipped: " + Skipped(counts, port) + ")" +
                (counts.cutOff.empty() ? "" : "; its last record is cut off");
        return false;
    }
    if (!counts.cutOff.empty()) {
        std::fprintf(stderr,
                     "lxdravik-send: warning: %s: its last record is cut off (%s); playing the "
                     "%llu datagrams before it\n",
                     file.c_str(), counts.cutOff.c_str(),
                     static_cast<unsigned long long>(counts.matched));
    }
    return true;
}

void PrintProgress(std::uint64_t pass, std::uint64_t datagram, std::uint64_t perPass,
                   double seconds) {
    std::fprintf(stderr, "\r  pass %llu   datagram %llu of %llu   %.1f s ",
                 static_cast<unsigned long long>(pass), static_cast<unsigned long long>(datagram),
                 static_cast<unsigned long long>(perPass), seconds);
}

// Plays one pass whose first datagram is due at `start`; false when stopped
// or the file failed (`error` set). `end` is when its last datagram was due
// (or sent, at speed 0).
bool PlayPass(const Options& options, host::UdpSocket& socket, const std::atomic<bool>& stop,
              const Survey& survey, Clock::time_point start, bool progress, Played& played,
              Clock::time_point& end, std::string& error) {
    host::CaptureReader reader;
    if (!reader.Open(options.replay, error)) {
        return false;
    }
    Clock::time_point nextProgress = Clock::now();
    end = start;
    host::CapturedDatagram datagram;
    host::CaptureReader::Status status;
    while ((status = reader.Next(options.replayPort, datagram, error)) ==
           host::CaptureReader::Status::kDatagram) {
        if (options.speed > 0) {
            const std::chrono::duration<double, std::micro> offset(
                static_cast<double>(datagram.microseconds - survey.first) / options.speed);
            end = start + std::chrono::duration_cast<Clock::duration>(offset);
            if (!WaitUntil(end, stop)) {
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
        if (options.speed <= 0) {
            end = now;
        }
        if (progress && now >= nextProgress) {
            PrintProgress(played.passes + 1, reader.Counts().matched, survey.counts.matched,
                          host::SecondsBetween(start, now));
            nextProgress = now + std::chrono::milliseconds(250);
        }
    }
    if (status == host::CaptureReader::Status::kError) {
        return false;
    }
    ++played.passes;
    return true;
}

// The pause between --loop passes: --loop-gap, or one typical interval of
// the capture at the replay's speed (25 ms where it has none, or at speed 0).
Clock::duration LoopGap(const Options& options, const Survey& survey) {
    constexpr double kDefaultGapMs = 25;
    double ms = options.loopGap;
    if (ms < 0) {
        ms = survey.interval > 0 && options.speed > 0
                 ? static_cast<double>(survey.interval) / 1000 / options.speed
                 : kDefaultGapMs;
    }
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(ms));
}

}  // namespace

int Replay(const Options& options, host::UdpSocket& socket, const std::string& address,
           const std::atomic<bool>& stop) {
    Survey survey;
    std::string error;
    if (!SurveyCapture(options.replay, options.replayPort, survey, error)) {
        return host::Fail(kProgram, error);
    }
    const host::CaptureCounts& counts = survey.counts;
    const bool progress = !options.quiet && isatty(STDERR_FILENO);
    const Clock::duration gap = LoopGap(options, survey);
    const Clock::time_point start = Clock::now();
    Played played;
    // Each pass starts one gap after the last datagram of the one before was
    // due, so a loop keeps the capture's pace and never runs faster.
    Clock::time_point passStart = start;
    Clock::time_point passEnd;
    while (PlayPass(options, socket, stop, survey, passStart, progress, played, passEnd, error) &&
           options.loop) {
        passStart = passEnd + gap;
        if (!WaitUntil(passStart, stop)) {
            break;
        }
    }
    if (progress) {
        std::fprintf(stderr, "\n");
    }
    if (!error.empty()) {
        return host::Fail(kProgram, error);  // the file changed under us
    }
    const double seconds = host::SecondsBetween(start, Clock::now());
    std::printf(
        "replayed %llu datagrams (%llu bytes) of %s in %.1f s to %s:%u; whole passes: %llu\n",
        static_cast<unsigned long long>(played.datagrams),
        static_cast<unsigned long long>(played.bytes), options.replay.c_str(), seconds,
        address.c_str(), options.port, static_cast<unsigned long long>(played.passes));
    std::printf(
        "  capture: %llu frames, %llu datagrams to port %u (%llu put together from %llu "
        "fragments)%s; skipped: %s\n",
        static_cast<unsigned long long>(counts.frames),
        static_cast<unsigned long long>(counts.matched), options.replayPort,
        static_cast<unsigned long long>(counts.reassembled),
        static_cast<unsigned long long>(counts.fragmentsUsed),
        counts.cutOff.empty() ? "" : ", the last record cut off",
        Skipped(counts, options.replayPort).c_str());
    if (played.failed > 0) {
        std::fprintf(stderr, "lxdravik-send: %llu datagrams could not be sent (%s)\n",
                     static_cast<unsigned long long>(played.failed), played.firstError.c_str());
        return 1;
    }
    return 0;
}

}  // namespace lxd::sender
