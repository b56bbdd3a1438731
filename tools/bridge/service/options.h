// Command line and configuration file of lxdravik-bridge.
#pragma once

#include <string>

#include "tools/bridge/core/mapping.h"
#include "tools/bridge/core/sync.h"
#include "tools/bridge/net/network_settings.h"
#include "tools/bridge/service/settings.h"

namespace lxd::bridge {

struct Options {
    Mapping mapping;
    NetworkSettings network;
    bool holdOnLoss = true;
    SyncMode sync = SyncMode::kAuto;
    double duration = -1.0;  // below 0: until interrupted
    std::string name;        // the node's name in ArtPollReply; empty: from the host name
    bool json = false;
    std::string http;          // ADDR:PORT of the status page; empty: none
    std::string configPath;    // --config FILE; empty: none
    SettingsText commandLine;  // what the command line set, over the file's
};

// Parses and checks the command line and the configuration file it names.
// Returns -1 to go on, otherwise the exit code: 0 after --help, 2 after an
// error, which is printed on stderr or, with `error`, left there.
int ParseOptions(int argc, char** argv, Options& options, std::string* error = nullptr);

// Checks `settings` and writes them into `options`. On failure returns false
// with one line and leaves `options` as it was.
bool ApplySettings(const SettingsText& settings, Options& options, std::string& error);

// The options after reading the configuration file again: `current` with the
// file's settings under the command line's. False with one line on failure.
bool ReloadOptions(const Options& current, Options& next, std::string& error);

}  // namespace lxd::bridge
