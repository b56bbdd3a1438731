#include "tools/monitor/options.h"

#include <CLI/CLI.hpp>
#include <string>

#include "host/arguments.h"
#include "protocol/layout.h"

namespace lxd::monitor {

int ParseOptions(int argc, char** argv, Options& options) {
    const std::string description =
        "lxdravik-monitor: loads the lxdravik driver as a host application does, connects, and\n"
        "shows the levels that arrive on UDP port " +
        std::to_string(kIntakePort) +
#if defined(LXD_MONITOR_LIVE_VIEW)
        ". On a terminal it shows a live view;\n"
        "with --duration, --json or without a terminal it prints a report at the end.";
#else
        ". It listens for --duration seconds (or\n"
        "until Ctrl+C) and then prints a report of the ports that changed.";
#endif
    CLI::App app{description, "lxdravik-monitor"};
    app.add_option("--driver", options.driverPath,
                   "Driver library to load (default: the one beside this program"
#if defined(_WIN32)
                   " or in the folder above it"
#endif
                   ", else from the system's library path)");
    app.add_option("--rate", options.rate, "ServiceDevices calls per second")
        ->check(CLI::Range(1.0, 1000.0))
        ->capture_default_str();
    app.add_option("--duration", options.duration,
                   "Run for this many seconds, then print a report and exit")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_flag("--json", options.json, "Print the report as JSON");
    app.add_flag("--all", options.allPorts, "List every port in the report, not only changed ones");
#if defined(LXD_MONITOR_LIVE_VIEW)
    app.add_flag("--live", options.live,
                 "Show the live view even with --duration (it then ends after the duration)");
    app.add_option("--port", options.port, "Port shown first in the live view")
        ->check(CLI::Range(0, 35))
        ->capture_default_str();
    std::string format = "dec";
    app.add_option("--format", format, "Level format of the live view")
        ->check(CLI::IsMember({"dec", "hex", "pct"}))
        ->capture_default_str();
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
#if defined(LXD_MONITOR_LIVE_VIEW)
    options.format = format == "hex"   ? LevelFormat::kHex
                     : format == "pct" ? LevelFormat::kPercent
                                       : LevelFormat::kDecimal;
    if (options.live && options.json) {
        return host::Fail("lxdravik-monitor", "--live and --json exclude each other");
    }
#endif
    return -1;
}

}  // namespace lxd::monitor
