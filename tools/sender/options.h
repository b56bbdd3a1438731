// Command line of lxdravik-send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/layout.h"
#include "tools/sender/datagrams.h"
#include "tools/sender/levels.h"

namespace lxd::sender {

// The name that starts every message of the sender.
inline constexpr const char* kProgram = "lxdravik-send";

struct Options {
    std::string host = "127.0.0.1";
    std::uint16_t port = kIntakePort;
    Pattern pattern = Pattern::kChase;
    std::string patternName = "chase";
    std::string file;  // non-empty: levels from this file instead of a pattern
    std::vector<int> ports{0};
    PacketKind packet = PacketKind::kBlock;
    BlockCoding coding = BlockCoding::kShorter;
    double fps = 40.0;
    double duration = -1.0;   // below 0: not given
    std::int64_t count = -1;  // below 0: not given
    int level = 255;
    std::uint32_t seed = 1;
    bool quiet = false;
    std::string pcap;    // non-empty: write the datagrams into this capture
    std::string replay;  // non-empty: play this capture instead
    std::uint16_t replayPort = kIntakePort;
    double speed = 1.0;  // replay speed; 0: as fast as possible
    bool loop = false;
    double loopGap = -1;  // ms between --loop passes; < 0: the capture's typical interval
};

// Parses and checks the command line. Returns -1 to go on, otherwise the exit
// code (0 after --help, non-zero after an error already printed).
int ParseOptions(int argc, char** argv, Options& options);

}  // namespace lxd::sender
