// What the sender transmits: frames of levels for chosen ports, from a
// pattern or from a text file, and the parsing of ports lists and level files.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "protocol/layout.h"

namespace lxd::sender {

// The levels of every port and which ports are sent.
struct Frame {
    std::uint8_t levels[kNumPorts][kChannelsPerPort] = {};
    bool sent[kNumPorts] = {};
};

enum class Pattern { kChase, kFade, kRamp, kFull, kZero, kRandom };

// Parses a pattern name; false for an unknown one.
bool ParsePattern(const std::string& name, Pattern& pattern);

// Parses a ports list such as "0-3,7". On failure returns false with a
// message in `error`.
bool ParsePorts(const std::string& text, std::vector<int>& ports, std::string& error);

// Reads `port channel value` lines ('#' starts a comment) into `frame`; the
// ports named are marked as sent, their other channels are 0. On failure
// returns false with "FILE:LINE: reason" (or "FILE: reason") in `error`.
bool ReadLevelFile(const std::string& path, Frame& frame, std::string& error);
bool ParseLevelText(const std::string& text, const std::string& name, Frame& frame,
                    std::string& error);

// Fills the chosen ports of `frame` with frame number `index` of a pattern.
class PatternSource {
  public:
    PatternSource(Pattern pattern, std::vector<int> ports, std::uint8_t level, std::uint32_t seed);
    void Fill(std::uint64_t index, Frame& frame);

  private:
    Pattern pattern_;
    std::vector<int> ports_;
    std::uint8_t level_;
    std::mt19937 random_;
};

}  // namespace lxd::sender
