// Command line of lxdravik-monitor.
#pragma once

#include <string>

namespace lxd::monitor {

enum class LevelFormat { kDecimal, kHex, kPercent };

struct Options {
    std::string driverPath;  // empty: the driver built beside the monitor
    double rate = 40.0;      // ServiceDevices calls per second
    double duration = -1.0;  // seconds; below 0: until quit or interrupted
    bool json = false;
    bool live = false;  // the live view even with --duration
    bool allPorts = false;
    int port = 0;
    LevelFormat format = LevelFormat::kDecimal;
};

// Parses the command line into `options`. Returns -1 to go on, otherwise the
// exit code (0 after --help, non-zero after an error already printed).
int ParseOptions(int argc, char** argv, Options& options);

}  // namespace lxd::monitor
