// Command line of lxdravik-bridge.
#pragma once

#include <string>

#include "tools/bridge/mapping.h"
#include "tools/bridge/network.h"

namespace lxd::bridge {

struct Options {
    Mapping mapping;
    NetworkSettings network;
    bool holdOnLoss = true;
    double duration = -1.0;  // below 0: until interrupted
    std::string name;        // the node's name in ArtPollReply; empty: from the host name
    bool json = false;
};

// Parses and checks the command line. Returns -1 to go on, otherwise the exit
// code: 0 after --help, 2 after an error already printed.
int ParseOptions(int argc, char** argv, Options& options);

}  // namespace lxd::bridge
