// lxdravik-monitor: a stand-in for the host application. It loads the driver,
// connects, calls ServiceDevices at a steady rate and shows the levels.
#if defined(LXD_MONITOR_LIVE_VIEW)
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "host/arguments.h"
#include "host/driver_library.h"
#include "tools/monitor/options.h"
#include "tools/monitor/report.h"
#include "tools/monitor/session.h"
#if defined(LXD_MONITOR_LIVE_VIEW)
#include "tools/monitor/view.h"
#endif

namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) {
    g_stop.store(true);
}

// Services the driver at `rate` until `duration` has passed (below 0: until
// interrupted). Returns the seconds spent.
double Listen(lxd::monitor::DriverSession& session, double rate, double duration) {
    using lxd::monitor::Clock;
    const Clock::duration period = lxd::host::Seconds(1.0 / rate);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = lxd::host::DeadlineAfter(start, duration);
    Clock::time_point next = start;
    while (!g_stop.load()) {
        const Clock::time_point now = Clock::now();
        session.Tick(now);
        if (now >= end) {
            break;
        }
        next += period;
        if (next < now) {
            next = now + period;
        }
        std::this_thread::sleep_until(std::min(next, end));
    }
    return lxd::host::SecondsBetween(start, Clock::now());
}

#if defined(LXD_MONITOR_LIVE_VIEW)
// Runs the live view until the user quits, then prints a one-line summary.
void RunInteractive(lxd::monitor::DriverSession& session, const lxd::monitor::Options& options) {
    const auto start = lxd::monitor::Clock::now();
    lxd::monitor::RunLiveView(session, options, g_stop);
    session.Close();
    const double seconds = lxd::host::SecondsBetween(start, lxd::monitor::Clock::now());
    std::printf("lxdravik-monitor: %.1f s, %llu ServiceDevices calls, ports that changed:", seconds,
                static_cast<unsigned long long>(session.ServiceCalls()));
    int changed = 0;
    for (int port = 0; port < lxd::kNumPorts; ++port) {
        if (session.Changes(port) > 0) {
            std::printf(" %d", port);
            ++changed;
        }
    }
    std::printf("%s\n", changed == 0 ? " none" : "");
}
#endif

}  // namespace

int main(int argc, char** argv) {
    lxd::monitor::Options options;
    if (const int code = lxd::monitor::ParseOptions(argc, argv, options); code >= 0) {
        return code;
    }
#if defined(LXD_MONITOR_LIVE_VIEW)
    const bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    if (options.live && !terminal) {
        return lxd::host::Fail("lxdravik-monitor", "--live needs a terminal on stdin and stdout");
    }
    const bool interactive = options.live || (terminal && !options.json && options.duration < 0);
#endif
    const bool searched = options.driverPath.empty();
    const std::string path = searched ? lxd::host::FindDriver() : options.driverPath;

    lxd::monitor::DriverSession session;
    std::string error;
    if (!session.Open(path, error)) {
        std::fprintf(stderr, "lxdravik-monitor: %s\n", error.c_str());
        if (searched && !session.DriverLoaded()) {
            std::fprintf(stderr,
                         "lxdravik-monitor: looked beside the program%s and in the system's "
                         "library path; name the driver with --driver PATH\n",
#if defined(_WIN32)
                         " and in the folder above it"
#else
                         ""
#endif
            );
        }
        return 1;
    }
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
#if defined(SIGHUP)
    std::signal(SIGHUP, RequestStop);
#endif

#if defined(LXD_MONITOR_LIVE_VIEW)
    if (interactive) {
        RunInteractive(session, options);
        return 0;
    }
#endif
    if (options.duration >= 0) {
        std::fprintf(stderr,
                     "lxdravik-monitor: connected to \"%s\" on UDP %u, listening for %g s\n",
                     session.DeviceName().c_str(), unsigned{lxd::kIntakePort}, options.duration);
    } else {
        std::fprintf(stderr,
                     "lxdravik-monitor: connected to \"%s\" on UDP %u, listening until "
                     "interrupted\n",
                     session.DeviceName().c_str(), unsigned{lxd::kIntakePort});
    }
    const double seconds = Listen(session, options.rate, options.duration);
    session.Close();
    lxd::monitor::ReportInfo info;
    info.seconds = seconds;
    info.rate = options.rate;
    info.allPorts = options.allPorts;
    if (options.json) {
        lxd::monitor::WriteJsonReport(stdout, session, info);
    } else {
        lxd::monitor::WriteTextReport(stdout, session, info);
    }
    return 0;
}
