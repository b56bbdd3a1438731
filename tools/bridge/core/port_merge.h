// A driver port's levels from the routes that feed it: per channel, among the
// merged sources of every input routed there, the highest priority wins, and
// equal priorities take the highest level (htp) or the latest change (ltp).
// Fixed-size: 512 channels, at most kMaxRoutesPerPort routes.
#pragma once

#include <cstdint>

#include "protocol/layout.h"
#include "tools/bridge/core/mapping.h"

namespace lxd::bridge {

inline constexpr int kMaxSourcesPerInput = 8;

// One merged source of an input, as the ports read it.
struct SourceLevels {
    const std::uint8_t* levels = nullptr;      // 512
    const std::uint8_t* priorities = nullptr;  // 512 per-channel (0: not driven), or null
    const std::uint32_t* changes = nullptr;    // 512 change stamps (for ltp), or null
    std::uint8_t priority = 0;                 // the source's own, for every channel
};

// The sources of one input that drive (live, or lost and not settled yet).
struct InputLevels {
    SourceLevels sources[kMaxSourcesPerInput];
    int count = 0;
};

// A source's new levels: `count` (up to 512) taken from `data`, the rest 0.
// With `clock`, each level that changed gets the next stamp in `changes`.
void TakeLevels(const std::uint8_t* data, int count, std::uint8_t* levels, std::uint32_t* changes,
                std::uint32_t* clock);

// An input's change since the ports last merged it: set by the input, taken
// by the bridge.
class InputChange {
  public:
    void Mark(bool afterLoss) {
        changed_ = true;
        lost_ = lost_ || afterLoss;
    }
    // True once after a change; `afterLoss` set when sources left.
    bool Take(bool& afterLoss) {
        const bool changed = changed_;
        afterLoss = lost_;
        changed_ = lost_ = false;
        return changed;
    }

  private:
    bool changed_ = false;
    bool lost_ = false;
};

// A route as a port's merge reads it: channels [from, from + count) of
// `input` onto [to, to + count) of the port (0-based).
struct PortRoute {
    const InputLevels* input = nullptr;
    std::uint16_t from = 0;
    std::uint16_t to = 0;
    std::uint16_t count = kChannelsPerPort;
    std::int16_t priority = kPriorityNotGiven;  // given: replaces the sources' own
};

class PortMerge {
  public:
    // The routes (at most kMaxRoutesPerPort; those beyond are ignored) and
    // the port's rules. With `hold`, a channel whose last input is lost
    // keeps its level until an input drives it again; otherwise it falls to 0.
    void Configure(const PortRoute* routes, int count, Merge merge, bool hold);
    void SetHold(bool hold) { hold_ = hold; }
    // Forgets the levels: the port starts again from zero.
    void Reset();

    // Merges channels [first, first + count) again; `afterLoss` when inputs
    // or sources were just removed.
    void Update(int first, int count, bool afterLoss = false);
    void UpdateAll(bool afterLoss = false) { Update(0, kChannelsPerPort, afterLoss); }
    // True once after each change of the levels.
    bool TakeChange();

    const std::uint8_t* Levels() const { return levels_; }
    // Per channel the route whose input won it; -1 where none drives it.
    const std::int8_t* Winners() const { return winners_; }
    // Whether any input has driven the port yet: before that nothing is sent.
    bool Started() const { return started_; }
    int RouteCount() const { return count_; }
    Merge MergeRule() const { return merge_; }
    bool Hold() const { return hold_; }
    const PortRoute& Route(int i) const { return routes_[i]; }

  private:
    PortRoute routes_[kMaxRoutesPerPort];
    int count_ = 0;
    Merge merge_ = Merge::kHtp;
    bool hold_ = true;
    std::uint8_t levels_[kChannelsPerPort] = {};
    std::int8_t winners_[kChannelsPerPort] = {};
    std::uint8_t held_[kChannelsPerPort] = {};  // 1: kept at its level after a loss
    bool started_ = false;
    bool changed_ = false;
    bool allWon_ = false;  // every channel won by route 0, none held
};

}  // namespace lxd::bridge
