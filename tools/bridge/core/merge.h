// Merging the sources of one universe into the levels of one driver port.
#pragma once

#include <cstdint>

#include "tools/bridge/core/counts.h"
#include "tools/bridge/core/io.h"
#include "tools/bridge/core/mapping.h"

namespace lxd::bridge {

// One live source's levels (512) and how strongly it holds each channel:
// per-channel priorities (512, 0 = this source does not drive the channel)
// where it sends them, otherwise one priority for all channels.
struct MergeInput {
    const std::uint8_t* levels;
    const std::uint8_t* priorities;  // null: `priority` for every channel
    std::uint8_t priority;
};

// Channel by channel, the highest priority wins and equal priorities take the
// highest level. Channels no input drives are 0. Returns true when every
// channel is driven; otherwise `driven`, where given, says which are.
bool MergeLevels(const MergeInput* inputs, int count, std::uint8_t* out, bool* driven = nullptr);

// The merged levels of one universe and whether they changed since the
// forwarder last took them.
class MergedOutput {
  public:
    // With `hold`, a channel whose last source is lost keeps its level until
    // a source drives it again; otherwise it falls to 0.
    explicit MergedOutput(bool hold = true) : hold_(hold) {}

    // Merges `count` inputs; `afterLoss` when sources were just removed.
    void Update(const MergeInput* inputs, int count, bool afterLoss = false);
    // True once after each change of the levels.
    bool TakeChange();
    void SetHold(bool hold) { hold_ = hold; }
    const std::uint8_t* Levels() const { return levels_; }
    // Whether any source has been merged yet: before that nothing is sent.
    bool Started() const { return started_; }

  private:
    std::uint8_t levels_[kChannelsPerPort] = {};
    bool driven_[kChannelsPerPort] = {};
    bool held_[kChannelsPerPort] = {};
    bool allDriven_ = false;  // driven_ all true and held_ all false
    bool started_ = false;
    bool hold_;
    bool changed_ = false;
};

}  // namespace lxd::bridge
